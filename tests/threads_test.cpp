// Tests that one loaded grammar serves several threads at once: every
// result of 8 threads matching, translating and searching concurrently is
// the one a single thread gets, for a grammar in the process code page and
// for a UTF-8 one while the process is in another. Run under
// ThreadSanitizer by the test command.
#include "ksbnfc.h"

#include "fsg_build.h"
#include "ks_api.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

namespace {

// 8 threads x 10,000 calls, each on the inputs in turn, starting at its own:
// every result must be the single-threaded one.
void Hammer(void* fsg, const std::vector<std::string>& inputs, const std::vector<std::string>& want)
{
    const int kThreads = 8, kCalls = 10000;
    std::vector<int> wrong(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kCalls; i++) {
                size_t k = (size_t)(i + t) % inputs.size();
                if (ks_api::Calls(fsg, inputs[k], ks_api::Stretches::List) != want[k]) wrong[(size_t)t]++;
            }
        });
    for (std::thread& th : threads) th.join();
    for (int t = 0; t < kThreads; t++) EXPECT_EQ(wrong[(size_t)t], 0) << "thread " << t;
}

// Compiles a grammar file in translation mode (in code page cp, 0: the
// process one) and loads it.
void* CompileAndLoad(const std::string& bnf, const fsg_build::TempFile& file, long cp)
{
    std::vector<ks_api::Param> p = {{"bnfFile", bnf}, {"fsgFile", file.path}, {"trMode", 1L}, {"warnings", 0L}};
    if (cp) p.push_back({"codePage", cp});
    EXPECT_LT(ks_api::Compile(p), 1000) << KsMsgBuf;
    void* fsg = nullptr;
    EXPECT_EQ(KsLoadFSG(file.c_str(), &fsg), 0) << KsMsgBuf;
    return fsg;
}

TEST(Threads, EightThreadsGetTheSingleThreadedResults)
{
    fsg_build::TempFile file;
    void* fsg = CompileAndLoad(std::string(KSBNFC_SOURCE_DIR) + "/examples/coffee.bnf", file, 0);
    ASSERT_NE(fsg, nullptr);
    std::vector<std::string> inputs = {"two large lattes please", "a small tea", "one espresso and a cappuccino please",
                                       "large lattes", "two two", "", "a tea please thanks", "three medium mochas"};
    std::vector<std::string> want;
    for (const auto& w : inputs) want.push_back(ks_api::Calls(fsg, w, ks_api::Stretches::List));
    EXPECT_NE(want[0].find("2 "), std::string::npos) << want[0];
    Hammer(fsg, inputs, want);
    KsUnloadFSG(fsg);
}

// A grammar stored as UTF-8, matched while the process is in a two-byte
// code page: folding, the word index and the translation's segments
// (U+00B7 under UTF-8, a lead byte's trail in 932) follow the grammar,
// and the process code page is never touched.
TEST(Threads, Utf8GrammarInAnotherProcessCodePage)
{
    fsg_build::TempFile bnf("bnf"), file;
    std::ofstream(bnf.c_str(), std::ios::binary)
        << "<<g>> = {<w>} bitte? -> {1} | {<w>} {<n>} -> {1} {2}\xC2\xB7{1} (z) .\n"
           "<w> = Über -> über | GRÜßE -> grüße | ПРИВЕТ -> здравствуй | зима -> «зима» | élève -> Élève\n"
           "    | Œuvre -> œuvre | ÇA -> ça | eins -> 1 | zwei -> 2 | drei -> 3 .\n"
           "<n> = звезда -> звёзды | ЗЛО -> зло .\n";
    void* fsg = CompileAndLoad(bnf.c_str(), file, 65001);
    ASSERT_NE(fsg, nullptr);
    ks_set_cp(932);
    const struct {
        const char* words;
        const char* want; // KsTest, translation, stretches
    } cases[] = {
        {"ÜBER bitte", "2 über 0-1 0-0"},
        {"Привет Звезда", "2 здравствуй звёзды (z) 0-0 0-1"},
        {"ÉLÈVE", "2 Élève 0-0"},
        {"œuvre zwei", "0 - 1-1 0-0"},
        {"ca", "0 -"},
        {"\xD0\xB7\xB7", "0 -"},
        {"ЗИМА зло", "2 «зима» зло (z) 0-0 0-1"},
    };
    std::vector<std::string> inputs, want;
    for (const auto& c : cases) {
        inputs.push_back(c.words);
        want.push_back(ks_api::Calls(fsg, c.words, ks_api::Stretches::List));
        EXPECT_EQ(want.back(), c.want) << c.words;
    }
    Hammer(fsg, inputs, want);
    EXPECT_EQ(ks_get_cp(), 932u);
    ks_set_cp(1252);
    KsUnloadFSG(fsg);
}

} // namespace
