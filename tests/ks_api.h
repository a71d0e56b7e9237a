// ks_api.h: what the tests of the exported calls share: a scratch directory
// removed after each test, KsCompileGrammar with named parameters, loaded
// grammars, and sentences tested, translated and searched on them.
#ifndef KSBNFC_TESTS_KS_API_H
#define KSBNFC_TESTS_KS_API_H

#include "ksbnfc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace ks_api {

// The message of the last call ("" for none).
inline std::string Message()
{
    char* m = nullptr;
    KsGetMessage(&m);
    return m ? m : "";
}

// A parameter of KsCompileGrammar: a text or a number.
struct Param {
    Param(const char* n, std::string t) : name(n), text(std::move(t)), is_text(true) {}
    Param(const char* n, long v) : name(n), value(v) {}
    const char* name;
    std::string text;
    long value = 0;
    bool is_text = false;
};

inline int Compile(const std::vector<Param>& params)
{
    std::vector<KsArg> args;
    for (const Param& p : params)
        args.push_back({const_cast<char*>(p.name), p.is_text ? reinterpret_cast<long>(p.text.c_str()) : p.value});
    return KsCompileGrammar((int)args.size(), args.data());
}

// The words of a sentence (split at blanks) as the run-time calls take them.
struct Sentence {
    explicit Sentence(const std::string& s)
    {
        std::istringstream in(s);
        for (std::string w; in >> w;) words.push_back(w);
        for (std::string& w : words) ptrs.push_back(&w[0]);
        ptrs.push_back(nullptr);
    }
    char** get() { return ptrs.data(); }
    std::vector<std::string> words;
    std::vector<char*> ptrs;
};

// The translation of the sentence, "<rejected>" when the grammar does not
// accept it, or "<error: message>".
inline std::string Translate(void* fsg, const std::string& sentence)
{
    Sentence s(sentence);
    int result = -1;
    if (KsTest(fsg, s.get(), &result) >= 1000) return "<error: " + Message() + ">";
    if (result != 2) return "<rejected>";
    char* t = nullptr;
    if (KsGetTranslation(fsg, s.get(), &t) >= 1000) return "<error: " + Message() + ">";
    std::string out = t ? t : "";
    std::free(t);
    return out;
}

// KsTest's result, the translation ("-": none) and, as asked, the number of
// stretches the search finds or each one as "start-end"; or the call that
// failed and its message.
enum class Stretches { None, Count, List };
inline std::string Calls(void* fsg, const std::string& words, Stretches stretches = Stretches::Count)
{
    Sentence w(words);
    int result = -1;
    if (KsTest(fsg, w.get(), &result) != 0) return "test: " + Message();
    char* t = nullptr;
    if (KsGetTranslation(fsg, w.get(), &t) != 0) return "translate: " + Message();
    std::string out = std::to_string(result) + " " + (t ? t : "-"), list;
    std::free(t);
    if (stretches == Stretches::None) return out;
    void* h = nullptr;
    if (KsFindSubStrs(w.get(), fsg, &h) != 0) return out + " substrs: " + Message();
    int n = 0;
    for (void* r; (r = KsGetNextSubStr(h)); n++)
        list += " " + std::to_string(KsGetSubStrStart(r)) + "-" + std::to_string(KsGetSubStrEnd(r));
    KsFreeSubStrs(h);
    return out + (stretches == Stretches::List ? list : " " + std::to_string(n));
}

// A grammar file loaded through KsLoadFSG, unloaded with the object.
struct Loaded {
    explicit Loaded(const std::string& path) { EXPECT_EQ(KsLoadFSG(path.c_str(), &fsg), 0) << Message(); }
    ~Loaded() { KsUnloadFSG(fsg); }
    void* fsg = nullptr;
};

// A fresh directory for each test.
class Scratch : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/ksbnfc_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { (void)std::system(("rm -rf '" + dir + "'").c_str()); }
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    // Writes the file (making its directories); its path.
    std::string Write(const std::string& name, const std::string& text) const
    {
        std::string path = Path(name);
        (void)std::system(("mkdir -p \"$(dirname '" + path + "')\"").c_str());
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    void* Load(const std::string& file) const
    {
        void* fsg = nullptr;
        EXPECT_LT(KsLoadFSG(file.c_str(), &fsg), 1000) << Message();
        return fsg;
    }
    std::string dir;
};

} // namespace ks_api

#endif // KSBNFC_TESTS_KS_API_H
