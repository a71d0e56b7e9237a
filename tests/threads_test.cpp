// Tests that one loaded grammar serves several threads at once: every
// result of 8 threads matching, translating and searching concurrently is
// the one a single thread gets. Run under ThreadSanitizer by the test command.
#include "ksbnfc.h"

#include "fsg_build.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::vector<std::string>> Inputs()
{
    const char* lines[] = {"two large lattes please", "a small tea", "one espresso and a cappuccino please",
                           "large lattes", "two two", "", "a tea please thanks", "three medium mochas"};
    std::vector<std::vector<std::string>> out;
    for (const char* l : lines) {
        std::vector<std::string> w;
        std::string cur;
        for (const char* p = l;; p++) {
            if (*p == ' ' || !*p) {
                if (!cur.empty()) w.push_back(cur);
                cur.clear();
                if (!*p) break;
            } else {
                cur += *p;
            }
        }
        out.push_back(w);
    }
    return out;
}

// KsTest, the translation and the sub-strings of one word string, as text.
std::string Results(void* fsg, const std::vector<std::string>& words)
{
    std::vector<char*> v;
    for (const std::string& s : words) v.push_back(const_cast<char*>(s.c_str()));
    v.push_back(nullptr);
    int r = -1;
    std::string out = KsTest(fsg, v.data(), &r) == 0 ? std::to_string(r) : "error";
    char* t = nullptr;
    out += KsGetTranslation(fsg, v.data(), &t) == 0 ? std::string(" ") + (t ? t : "-") : " error";
    std::free(t);
    void* h = nullptr;
    if (KsFindSubStrs(v.data(), fsg, &h) != 0) return out + " error";
    while (void* s = KsGetNextSubStr(h))
        out += " " + std::to_string(KsGetSubStrStart(s)) + "-" + std::to_string(KsGetSubStrEnd(s));
    KsFreeSubStrs(h);
    return out;
}

TEST(Threads, EightThreadsGetTheSingleThreadedResults)
{
    fsg_build::TempFile file;
    std::string bnf = std::string(KSBNFC_SOURCE_DIR) + "/examples/coffee.bnf";
    std::vector<KsArg> args = {{(char*)"bnfFile", reinterpret_cast<long>(bnf.c_str())},
                               {(char*)"fsgFile", reinterpret_cast<long>(file.c_str())},
                               {(char*)"trMode", 1}};
    ASSERT_LT(KsCompileGrammar((int)args.size(), args.data()), 1000);
    void* fsg = nullptr;
    ASSERT_EQ(KsLoadFSG(file.c_str(), &fsg), 0);
    std::vector<std::vector<std::string>> inputs = Inputs();
    std::vector<std::string> want;
    for (const auto& w : inputs) want.push_back(Results(fsg, w));
    EXPECT_NE(want[0].find("2 "), std::string::npos) << want[0];

    const int kThreads = 8, kCalls = 10000;
    std::vector<int> wrong(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kCalls; i++) {
                size_t k = (size_t)(i + t) % inputs.size();
                if (Results(fsg, inputs[k]) != want[k]) wrong[(size_t)t]++;
            }
        });
    for (std::thread& th : threads) th.join();
    for (int t = 0; t < kThreads; t++) EXPECT_EQ(wrong[(size_t)t], 0) << "thread " << t;
    KsUnloadFSG(fsg);
}

} // namespace
