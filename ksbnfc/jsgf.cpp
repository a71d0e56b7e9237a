// jsgf.cpp: the JSGF front end. CompileJSGF reads a grammar written in the
// Java Speech Grammar Format (v1.0) and the grammars it imports, and fills
// the same grammar model as the BNF parser: one rule list per rule, one
// TGrammar per public rule. Everything here is private to this file.
//
// Tags become translations: the translation of a sentence is its tags in
// path order joined by single blanks. A rule list's translation always
// pushes one text, so a part that may or may not carry tags cannot be joined
// with a fixed blank. Every rule and group is therefore split by what its
// paths carry: a "tagged" list (at least one tag, pushes the joined tags) and
// an "untagged" list (no tag, referenced without translation). A sequence
// whose element can be either is split into alternatives over a chain of
// generated rest lists, which keeps the model linear in the grammar.
#include "trule.h"

#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// Groups and postfix operators are parsed and walked recursively; this bound
// keeps hostile input from exhausting the stack.
const int kMaxNesting = 200;

// What the paths of a piece of grammar carry.
const int kUntagged = 1; // some path has no tag
const int kTagged = 2;   // some path has a tag
// Neither: the piece matches nothing (<VOID>).

enum Kind { kWord, kNull, kVoid, kRef, kSeq, kAlt, kStar, kPlus, kTags };

struct Node {
    Kind kind;
    std::string text;            // word, rule name as written (kRef)
    std::vector<int> kids;       // kSeq, kAlt; one for kStar, kPlus, kTags
    std::vector<float> weights;  // kAlt
    std::vector<std::string> tags; // kTags
    int line, col;
    int target = -1; // kRef: the rule
    int star = -1;   // kPlus in translation mode: the node for kid*
    int flags = 0;
};

struct Rule {
    std::string name; // as written, without brackets
    std::string list; // the name of its rule list in the model
    int grammar;
    bool pub;
    int body;
    int line, col;
    int flags = 0;
};

struct Import {
    std::string grammar; // package-qualified grammar name
    std::string rule;    // a rule name or "*"
    int line, col;
    int target = -1; // the grammar
};

struct Grammar {
    std::string fn;   // the file, as opened
    std::string name; // from the grammar declaration
    std::string qualified; // the name it was imported under ("" for the main grammar)
    std::map<std::string, int> rules;
    std::vector<Import> imports;
};

// An element of a flattened sequence: a node, or (node < 0) a tag's text.
struct Elem {
    int node;
    std::string tag;
    std::string slot = std::string(); // the slot a tag after it names
};

// A tag that names a slot, in a grammar that names intents: what a BNF slot
// name may be.
bool IsSlotName(const std::string& t)
{
    if (t.empty()) return false;
    for (unsigned char c : t)
        if (!(std::isalnum(c) || c == '_' || c == '-' || c >= 0x80)) return false;
    return true;
}

// One alternative of a rule list under construction. A part names either a
// tag's text or an item whose translation is needed.
struct AltItem {
    bool terminal;
    std::string word;
    bool needtr;
    Op op;
};
struct Part {
    int item; // -1: text
    std::string text;
};
struct Alt {
    std::vector<AltItem> items;
    std::vector<TTag> tags;
    std::vector<Part> parts;
    bool has_tag = false;
    bool fixed = false; // translation is `translation`, not the joined parts
    bool words_only = false; // no translation: its words by default
    std::string translation;
    float weight = 1.0f;
    int line = 0, col = 0;
};

std::string Lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    return s;
}

bool IsBlank(unsigned c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

// Code pages for the encodings the header may name.
struct Encoding {
    const char* name;
    int codepage;
};
const Encoding kEncodings[] = {
    {"utf-8", 65001},        {"utf8", 65001},       {"iso-8859-1", 1252}, {"iso8859-1", 1252},
    {"iso_8859-1", 1252},    {"latin1", 1252},      {"latin-1", 1252},    {"windows-1252", 1252},
    {"cp1252", 1252},        {"us-ascii", 1252},    {"ascii", 1252},      {"shift_jis", 932},
    {"shift-jis", 932},      {"sjis", 932},         {"windows-31j", 932}, {"cp932", 932},
    {"gbk", 936},            {"gb2312", 936},       {"cp936", 936},       {"euc-kr", 949},
    {"cp949", 949},          {"big5", 950},         {"cp950", 950},       {"ibm850", 850},
    {"cp850", 850},
};

class Reader {
public:
    Reader(int annotations) : annotations_(annotations) {}
    int Run(const char* fn, TArray<TGrammar*>& grammars);

private:
    int annotations_;
    bool tr_ = false; // tags become translations
    bool intents_ = false; // a tag names an intent ({@NAME}): name tags after parts name slots
    std::vector<Node> nodes_;
    std::vector<Rule> rules_;
    std::vector<Grammar> grammars_;
    std::vector<std::unique_ptr<TStream>> files_;
    int codepage_ = 0;
    TDictionary* dict_ = nullptr;

    // ---- lexer state of the file being read ----
    const char* p_ = nullptr;
    const char* end_ = nullptr;
    int line_ = 1, col_ = 1;
    int gram_ = 0;
    int nesting_ = 0;

    [[noreturn]] void Fail(int l, int c, const char* fmt, ...) KSBNFC_PRINTF(4, 5);
    const char* Fn() const { return grammars_[gram_].fn.c_str(); }
    unsigned Cur() const { return p_ < end_ ? (unsigned)_mbsnextc(p_) : 0; }
    bool At(const char* s) const
    {
        size_t n = std::strlen(s);
        return (size_t)(end_ - p_) >= n && std::memcmp(p_, s, n) == 0;
    }
    void Adv()
    {
        if (*p_ == '\n') {
            line_++;
            col_ = 1;
        } else {
            col_++;
        }
        p_ = _mbsinc(p_);
        if (p_ > end_) p_ = end_;
    }
    void AppendCur(std::string& s)
    {
        const char* q = _mbsinc(p_);
        if (q > end_) q = end_;
        s.append(p_, (size_t)(q - p_));
        Adv();
    }
    void Skip();
    bool IsTokenChar(unsigned c) const;
    std::string Token();
    std::string Delimited(char close, const char* what, bool newline_ok);
    void Expect(char c, const char* context);

    // ---- parsing ----
    int Load(const std::string& path, const std::string& qualified);
    void Header();
    void Statement();
    int Expansion();
    int Sequence();
    int Item();
    int AddNode(Kind k, int l, int c)
    {
        Node n;
        n.kind = k;
        n.line = l;
        n.col = c;
        nodes_.push_back(n);
        return (int)nodes_.size() - 1;
    }
    void Enter(int l, int c)
    {
        if (++nesting_ > kMaxNesting) Fail(l, c, "groups nested more than %d deep", kMaxNesting);
    }

    // ---- resolution and checks ----
    std::string FileOf(const std::string& qualified, int g, int l, int c);
    void Resolve();
    int Find(int g, const std::string& name, int l, int c);
    void ResolveNode(int g, int n);
    int Flags(int n);
    void ComputeFlags();
    void CheckRecursion();
    void CollectRefs(int n, bool tail, std::vector<std::pair<int, int>>& out);

    // ---- building the model ----
    struct Job {
        int kind; // 0 rule, 1 node, 2 rest of a sequence, 3 tagged star, 4 star element, 5 root
        int id;
        int start;
        int mode;
        std::string name;
    };
    std::vector<Job> jobs_;
    std::map<std::string, std::string> made_; // job key -> list name
    std::vector<std::vector<Elem>> elems_;     // per node, computed on demand
    std::vector<bool> have_elems_;
    std::vector<bool> lowered_; // per rule: some list of it was made

    const std::vector<Elem>& Elements(int n);
    void Flatten(int n, std::vector<Elem>& out);
    int ElemFlags(const Elem& e) { return e.node < 0 ? kTagged : nodes_[e.node].flags; }
    std::string ListName(int kind, int id, int start, int mode);
    std::string RuleList(int r, int mode);
    void AddItem(Alt& a, bool terminal, const std::string& word, bool needtr, Op op);
    void Operand(Alt& a, int n, int mode, Op op);
    void Piece(Alt& a, const Elem& e, int mode);
    void Build(int owner, int start, int mode, Alt cur, std::vector<Alt>& out);
    void AltsOf(int n, int mode, std::vector<Alt>& out);
    void RunJob(const Job& j);
    void Emit(const std::string& list, std::vector<Alt>& alts, bool intermediate);
};

void Reader::Fail(int l, int c, const char* fmt, ...)
{
    char msg[1000];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(msg, sizeof msg, fmt, ap);
    va_end(ap);
    TPlace at;
    at.file = Fn();
    at.line = l;
    at.col = c;
    ErrorIn(at, "%s", msg);
}

// ---- lexical layer ----

void Reader::Skip()
{
    for (;;) {
        if (p_ >= end_) return;
        if (IsBlank((unsigned char)*p_)) {
            Adv();
        } else if (At("//")) {
            while (p_ < end_ && *p_ != '\n') Adv();
        } else if (At("/*")) {
            int l = line_, c = col_;
            Adv();
            Adv();
            while (p_ < end_ && !At("*/")) Adv();
            if (p_ >= end_) Fail(l, c, "unterminated comment");
            Adv();
            Adv();
        } else {
            return;
        }
    }
}

bool Reader::IsTokenChar(unsigned c) const
{
    if (c == 0 || IsBlank(c)) return false;
    return !(c < 128 && std::strchr(";=|*+<>()[]{}/\"\\", (int)c));
}

std::string Reader::Token()
{
    std::string s;
    while (p_ < end_ && IsTokenChar(Cur())) AppendCur(s);
    return s;
}

// The text up to the closing character, after the opening one; a backslash
// takes the next character literally.
std::string Reader::Delimited(char close, const char* what, bool newline_ok)
{
    int l = line_, c = col_;
    Adv();
    std::string s;
    for (;;) {
        if (p_ >= end_ || (!newline_ok && *p_ == '\n')) Fail(l, c, "unterminated %s", what);
        if (*p_ == close) break;
        if (*p_ == '\\') {
            Adv();
            if (p_ >= end_) Fail(l, c, "unterminated %s", what);
        }
        AppendCur(s);
    }
    Adv();
    return s;
}

void Reader::Expect(char ch, const char* context)
{
    Skip();
    if (p_ < end_ && *p_ == ch) {
        Adv();
        return;
    }
    if (p_ >= end_) Fail(line_, col_, "expected '%c' %s, found the end of the file", ch, context);
    std::string found;
    AppendCur(found);
    Fail(line_, col_ - 1, "expected '%c' %s, found '%s'", ch, context, found.c_str());
}

// ---- statements ----

int Reader::Load(const std::string& path, const std::string& qualified)
{
    files_.emplace_back(new TStream(path.c_str(), nullptr));
    TStream* s = files_.back().get();
    Grammar g;
    g.fn = s->fn;
    g.qualified = qualified;
    grammars_.push_back(g);
    gram_ = (int)grammars_.size() - 1;
    p_ = s->stream.s;
    end_ = s->end.s;
    line_ = col_ = 1;
    nesting_ = 0;
    if (At("\xEF\xBB\xBF")) p_ += 3;
    Header();
    for (Skip(); p_ < end_; Skip()) Statement();
    return gram_;
}

void Reader::Header()
{
    Skip();
    int l = line_, c = col_;
    if (!At("#JSGF")) Fail(l, c, "not a JSGF grammar: expected the header '#JSGF V1.0;'");
    for (int i = 0; i < 5; i++) Adv();
    std::vector<std::string> words;
    for (;;) {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\t')) Adv();
        if (p_ >= end_ || *p_ == '\n' || *p_ == '\r') Fail(l, c, "unterminated header: expected ';'");
        if (*p_ == ';') break;
        std::string w;
        while (p_ < end_ && !IsBlank((unsigned char)*p_) && *p_ != ';') AppendCur(w);
        words.push_back(w);
    }
    Adv();
    if (words.empty() || Lower(words[0]) != "v1.0")
        Fail(l, c, "unsupported JSGF version '%s' (V1.0 is read)", words.empty() ? "" : words[0].c_str());
    if (words.size() > 3) Fail(l, c, "too many words in the header");
    if (words.size() >= 2) {
        int cp = 0;
        for (const Encoding& e : kEncodings)
            if (Lower(words[1]) == e.name) cp = e.codepage;
        if (!cp) Fail(l, c, "unsupported encoding '%s'", words[1].c_str());
        if (codepage_ && cp != codepage_)
            Fail(l, c, "encoding '%s' differs from that of the importing grammar", words[1].c_str());
        if (!codepage_) ks_set_cp((unsigned long)cp);
        codepage_ = cp;
    }

    Skip();
    l = line_;
    c = col_;
    if (Token() != "grammar") Fail(l, c, "expected the grammar declaration 'grammar NAME;'");
    Skip();
    int nl = line_, nc = col_;
    std::string name = Token();
    if (name.empty()) Fail(nl, nc, "expected a grammar name");
    grammars_[gram_].name = name;
    Expect(';', "after the grammar name");
}

void Reader::Statement()
{
    int l = line_, c = col_;
    bool pub = false;
    if (IsTokenChar(Cur())) {
        std::string kw = Token();
        if (kw == "import") {
            Skip();
            int il = line_, ic = col_;
            if (Cur() != '<') Fail(il, ic, "expected '<package.grammar.rule>' after import");
            std::string name = Delimited('>', "import name", false);
            size_t dot = name.rfind('.');
            if (dot == std::string::npos || dot == 0 || dot + 1 == name.size())
                Fail(il, ic, "import <%s> names no grammar: expected <grammar.rule> or <grammar.*>",
                     name.c_str());
            Import im;
            im.grammar = name.substr(0, dot);
            im.rule = name.substr(dot + 1);
            im.line = il;
            im.col = ic;
            grammars_[gram_].imports.push_back(im);
            Expect(';', "after the import");
            return;
        }
        if (kw != "public") Fail(l, c, "expected a rule definition, found '%s'", kw.c_str());
        pub = true;
        Skip();
    }
    int rl = line_, rc = col_;
    if (Cur() != '<') Fail(rl, rc, "expected a rule definition '<name> = ...;'");
    std::string name = Delimited('>', "rule name", false);
    if (name.empty() || name.find('.') != std::string::npos || name == "NULL" || name == "VOID")
        Fail(rl, rc, "<%s> cannot be defined: a rule name is a simple name other than NULL and VOID",
             name.c_str());
    Grammar& g = grammars_[gram_];
    auto it = g.rules.find(name);
    if (it != g.rules.end())
        Fail(rl, rc, "<%s> is defined twice (first on line %d)", name.c_str(), rules_[it->second].line);
    Expect('=', ("after <" + name + ">").c_str());
    Rule r;
    r.name = name;
    r.grammar = gram_;
    r.pub = pub;
    r.line = rl;
    r.col = rc;
    r.body = Expansion();
    Skip();
    if (p_ >= end_ || *p_ != ';') {
        if (p_ >= end_) Fail(rl, rc, "unterminated rule <%s>: expected ';' before the end of the file", name.c_str());
        std::string found;
        int fl = line_, fc = col_;
        AppendCur(found);
        Fail(fl, fc, "unterminated rule <%s>: expected ';', found '%s'", name.c_str(), found.c_str());
    }
    Adv();
    g.rules[name] = (int)rules_.size();
    rules_.push_back(r);
}

// alternatives: [/w/] sequence { "|" [/w/] sequence }
int Reader::Expansion()
{
    std::vector<int> kids;
    std::vector<float> weights;
    int weighted = -1;
    int l0 = line_, c0 = col_;
    for (;;) {
        Skip();
        int l = line_, c = col_;
        float w = 1.0f;
        bool has_w = false;
        if (Cur() == '/') {
            std::string text = Delimited('/', "weight", false);
            char* stop = nullptr;
            double v = std::strtod(text.c_str(), &stop);
            if (text.empty() || *stop || !(v > 0) || !std::isfinite(v) || v > 3.0e38)
                Fail(l, c, "weight /%s/ is not a number greater than 0", text.c_str());
            w = (float)v;
            has_w = true;
        }
        if (weighted >= 0 && has_w != (weighted != 0))
            Fail(l, c, "either every alternative has a weight or none has");
        weighted = has_w;
        kids.push_back(Sequence());
        weights.push_back(w);
        Skip();
        if (Cur() != '|') break;
        Adv();
    }
    if (kids.size() == 1) return kids[0];
    int n = AddNode(kAlt, l0, c0);
    nodes_[n].kids = kids;
    nodes_[n].weights = weights;
    return n;
}

int Reader::Sequence()
{
    Skip();
    int l = line_, c = col_;
    std::vector<int> kids;
    for (int k; (k = Item()) >= 0;) kids.push_back(k);
    if (kids.empty()) {
        if (p_ >= end_) Fail(l, c, "expected an expansion, found the end of the file");
        std::string found;
        AppendCur(found);
        Fail(l, c, "expected a token, <rule>, ( ) or [ ], found '%s'", found.c_str());
    }
    if (kids.size() == 1) return kids[0];
    int n = AddNode(kSeq, l, c);
    nodes_[n].kids = kids;
    return n;
}

// One item with its postfix operators and tags, or -1 where none starts.
int Reader::Item()
{
    Skip();
    int l = line_, c = col_;
    unsigned ch = Cur();
    int n;
    if (ch == '(' || ch == '[') {
        Adv();
        Enter(l, c);
        int inner = Expansion();
        Expect(ch == '(' ? ')' : ']', ch == '(' ? "to close the group" : "to close the optional part");
        nesting_--;
        if (ch == '(') {
            n = inner;
        } else {
            n = AddNode(kAlt, l, c);
            nodes_[n].kids = {inner, AddNode(kNull, l, c)};
            nodes_[n].weights = {1.0f, 1.0f};
        }
    } else if (ch == '<') {
        std::string name = Delimited('>', "rule name", false);
        if (name == "NULL") {
            n = AddNode(kNull, l, c);
        } else if (name == "VOID") {
            n = AddNode(kVoid, l, c);
        } else {
            if (name.empty()) Fail(l, c, "empty rule name");
            n = AddNode(kRef, l, c);
            nodes_[n].text = name;
        }
    } else if (ch == '"') {
        std::string word = Delimited('"', "quoted token", false);
        if (word.empty()) Fail(l, c, "empty quoted token");
        n = AddNode(kWord, l, c);
        nodes_[n].text = word;
    } else if (IsTokenChar(ch)) {
        n = AddNode(kWord, l, c);
        nodes_[n].text = Token();
    } else {
        return -1;
    }
    int depth = 0;
    for (;;) {
        Skip();
        int pl = line_, pc = col_;
        ch = Cur();
        if (ch == '*' || ch == '+') {
            Adv();
            if (++depth > kMaxNesting) Fail(pl, pc, "more than %d operators on one item", kMaxNesting);
            int op = AddNode(ch == '*' ? kStar : kPlus, pl, pc);
            nodes_[op].kids = {n};
            n = op;
        } else if (ch == '{') {
            std::string tag = Delimited('}', "tag", true);
            size_t b = tag.find_first_not_of(" \t\r\n\f");
            size_t e = tag.find_last_not_of(" \t\r\n\f");
            tag = b == std::string::npos ? std::string() : tag.substr(b, e - b + 1);
            // A tag written over several lines is one line of translation:
            // each run of white space that holds a line end becomes one blank
            // (other runs stay as written).
            std::string folded;
            for (size_t i = 0; i < tag.size();) {
                size_t j = tag.find_first_not_of(" \t\r\n\f", i);
                if (j == i) {
                    folded += tag[i++];
                    continue;
                }
                if (j == std::string::npos) j = tag.size();
                std::string run = tag.substr(i, j - i);
                folded += run.find_first_of("\r\n") == std::string::npos ? run : " ";
                i = j;
            }
            tag.swap(folded);
            for (mbstring s(tag.c_str()); *s; ++s)
                if (*s == '{' || *s == 0xB7)
                    Fail(pl, pc, "tag {%s}: a tag cannot hold '{' or the character 0xB7", tag.c_str());
            if (tag.empty()) continue;
            if (nodes_[n].kind != kTags) {
                if (++depth > kMaxNesting) Fail(pl, pc, "more than %d operators on one item", kMaxNesting);
                int t = AddNode(kTags, pl, pc);
                nodes_[t].kids = {n};
                n = t;
            }
            nodes_[n].tags.push_back(tag);
        } else {
            return n;
        }
    }
}

// ---- imports and names ----

// The file of an imported grammar: its package path with the extension
// ".gram", then ".jsgf", below the directory of the grammar being compiled,
// then below each directory of JSGF_PATH.
std::string Reader::FileOf(const std::string& qualified, int g, int l, int c)
{
    std::string rel = qualified;
    for (char& ch : rel)
        if (ch == '.') ch = '/';
    std::vector<std::string> dirs;
    const std::string& top = grammars_[0].fn;
    size_t slash = top.rfind('/');
    dirs.push_back(slash == std::string::npos ? std::string() : top.substr(0, slash + 1));
    if (const char* env = std::getenv("JSGF_PATH")) {
        std::string all = env;
        for (size_t i = 0; i <= all.size();) {
            size_t j = all.find(':', i);
            if (j == std::string::npos) j = all.size();
            std::string d = all.substr(i, j - i);
            if (!d.empty()) dirs.push_back(d.back() == '/' ? d : d + "/");
            i = j + 1;
        }
    }
    std::string tried;
    for (const std::string& d : dirs)
        for (const char* ext : {".gram", ".jsgf"}) {
            std::string path = d + rel + ext;
            if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
                std::fclose(f);
                return path;
            }
            tried += (tried.empty() ? "" : ", ") + path;
        }
    gram_ = g;
    Fail(l, c, "unknown import: grammar %s not found (looked for %s)", qualified.c_str(), tried.c_str());
}

// The rule that name denotes in grammar g: a local rule, a rule of g
// qualified by its own name, or a public rule that g imports, by its simple,
// grammar-qualified or fully qualified name.
int Reader::Find(int g, const std::string& name, int l, int c)
{
    const Grammar& gr = grammars_[g];
    size_t dot = name.rfind('.');
    std::string qual = dot == std::string::npos ? std::string() : name.substr(0, dot);
    std::string simple = dot == std::string::npos ? name : name.substr(dot + 1);
    auto last = [](const std::string& q) {
        size_t d = q.rfind('.');
        return d == std::string::npos ? q : q.substr(d + 1);
    };
    if (qual.empty() || qual == gr.name || qual == last(gr.name)) {
        auto it = gr.rules.find(simple);
        if (it != gr.rules.end()) return it->second;
    }
    int found = -1;
    for (const Import& im : gr.imports) {
        if (im.rule != "*" && im.rule != simple) continue;
        if (!qual.empty() && qual != im.grammar && qual != last(im.grammar)) continue;
        const Grammar& other = grammars_[im.target];
        auto it = other.rules.find(simple);
        if (it == other.rules.end() || !rules_[it->second].pub) continue;
        if (found >= 0 && found != it->second) {
            gram_ = g;
            Fail(l, c, "<%s> is ambiguous: more than one imported grammar has it", name.c_str());
        }
        found = it->second;
    }
    if (found < 0) {
        gram_ = g;
        Fail(l, c, "<%s> is not defined", name.c_str());
    }
    return found;
}

void Reader::ResolveNode(int g, int n)
{
    Node& nd = nodes_[n];
    if (nd.kind == kRef) nd.target = Find(g, nd.text, nd.line, nd.col);
    for (int k : nodes_[n].kids) ResolveNode(g, k);
}

void Reader::Resolve()
{
    // Grammars are loaded breadth first, so that deep import chains need no
    // deep call chain; a grammar imported twice is read once.
    std::map<std::string, int> loaded;
    for (size_t g = 0; g < grammars_.size(); g++) {
        for (size_t i = 0; i < grammars_[g].imports.size(); i++) {
            Import im = grammars_[g].imports[i];
            auto it = loaded.find(im.grammar);
            int t;
            if (it != loaded.end()) {
                t = it->second;
            } else {
                std::string path = FileOf(im.grammar, (int)g, im.line, im.col);
                t = Load(path, im.grammar);
                loaded[im.grammar] = t;
            }
            grammars_[g].imports[i].target = t;
            if (im.rule != "*") {
                auto r = grammars_[t].rules.find(im.rule);
                gram_ = (int)g;
                if (r == grammars_[t].rules.end())
                    Fail(im.line, im.col, "unknown import: grammar %s has no rule <%s>", im.grammar.c_str(),
                         im.rule.c_str());
                if (!rules_[r->second].pub)
                    Fail(im.line, im.col, "cannot import <%s.%s>: the rule is not public", im.grammar.c_str(),
                         im.rule.c_str());
            }
        }
    }
    for (Rule& r : rules_) {
        const Grammar& g = grammars_[r.grammar];
        r.list = "<" + (g.qualified.empty() ? r.name : g.qualified + "." + r.name) + ">";
    }
    for (size_t r = 0; r < rules_.size(); r++) ResolveNode(rules_[r].grammar, rules_[r].body);
}

// ---- what paths carry ----

int Reader::Flags(int n)
{
    Node& nd = nodes_[n];
    int f = 0;
    switch (nd.kind) {
    case kWord:
    case kNull: f = kUntagged; break;
    case kVoid: f = 0; break;
    case kRef: f = rules_[nd.target].flags; break;
    case kSeq: {
        bool all_untagged = true, any_tagged = false, is_void = false;
        for (int k : nd.kids) {
            int kf = Flags(k);
            if (!kf) is_void = true;
            if (!(kf & kUntagged)) all_untagged = false;
            if (kf & kTagged) any_tagged = true;
        }
        f = is_void ? 0 : (all_untagged ? kUntagged : 0) | (any_tagged ? kTagged : 0);
        break;
    }
    case kAlt:
        for (int k : nd.kids) f |= Flags(k);
        break;
    case kStar: f = kUntagged | (Flags(nd.kids[0]) & kTagged); break;
    case kPlus: f = Flags(nd.kids[0]); break;
    case kTags:
        f = Flags(nd.kids[0]);
        if (tr_ && f) f = kTagged;
        break;
    }
    nd.flags = f;
    return f;
}

// Rules may refer to each other in cycles, so their flags are the least
// fixed point: start from "matches nothing" and widen until stable. Flags
// only widen, so each rule changes at most twice, and a rule is evaluated
// again only when a rule it refers to has changed: linear in the grammar,
// where sweeping all rules until nothing changes takes one sweep per level
// of a chain of rules.
void Reader::ComputeFlags()
{
    const int n = (int)rules_.size();
    std::vector<std::vector<int>> users((size_t)n);
    std::vector<std::pair<int, int>> refs;
    for (int r = 0; r < n; r++) {
        refs.clear();
        CollectRefs(rules_[r].body, true, refs);
        for (const auto& x : refs) users[(size_t)nodes_[x.first].target].push_back(r);
    }
    std::vector<int> work;
    std::vector<char> queued((size_t)n, 1);
    for (int r = n - 1; r >= 0; r--) work.push_back(r);
    while (!work.empty()) {
        int r = work.back();
        work.pop_back();
        queued[(size_t)r] = 0;
        int f = Flags(rules_[r].body);
        if (f == rules_[r].flags) continue;
        rules_[r].flags = f;
        for (int u : users[(size_t)r])
            if (!queued[(size_t)u]) {
                queued[(size_t)u] = 1;
                work.push_back(u);
            }
    }
}

// The rules referenced from n, each with whether the reference ends the rule
// (tail position), which is the only place recursion may go.
void Reader::CollectRefs(int n, bool tail, std::vector<std::pair<int, int>>& out)
{
    const Node& nd = nodes_[n];
    switch (nd.kind) {
    case kRef: out.push_back({n, tail ? 1 : 0}); break;
    case kSeq: {
        // Trailing <NULL>s vanish, so the item before them ends the sequence.
        size_t last = nd.kids.size();
        while (last > 1 && nodes_[nd.kids[last - 1]].kind == kNull) last--;
        for (size_t i = 0; i < nd.kids.size(); i++) CollectRefs(nd.kids[i], tail && i + 1 == last, out);
        break;
    }
    case kAlt:
    case kTags:
        for (int k : nd.kids) CollectRefs(k, tail, out);
        break;
    case kStar:
    case kPlus: CollectRefs(nd.kids[0], false, out); break;
    default: break;
    }
}

// A cycle of references is allowed only when every reference on it ends its
// rule (right recursion, which a finite-state network can express as a
// loop). Tarjan's strongly connected components, with an explicit stack; a
// reference that is not in tail position and stays inside its component
// closes a forbidden cycle.
void Reader::CheckRecursion()
{
    const int n = (int)rules_.size();
    std::vector<std::vector<std::pair<int, int>>> refs(n);
    for (int r = 0; r < n; r++) CollectRefs(rules_[r].body, true, refs[r]);
    std::vector<int> index(n, -1), low(n, 0), comp(n, -1), stack;
    std::vector<bool> on(n, false);
    int counter = 0, ncomp = 0;
    for (int root = 0; root < n; root++) {
        if (index[root] >= 0) continue;
        std::vector<std::pair<int, size_t>> call{{root, 0}};
        index[root] = low[root] = counter++;
        stack.push_back(root);
        on[root] = true;
        while (!call.empty()) {
            int v = call.back().first;
            size_t& i = call.back().second;
            if (i < refs[v].size()) {
                int w = nodes_[refs[v][i].first].target;
                i++;
                if (index[w] < 0) {
                    index[w] = low[w] = counter++;
                    stack.push_back(w);
                    on[w] = true;
                    call.push_back({w, 0});
                } else if (on[w]) {
                    low[v] = std::min(low[v], index[w]);
                }
                continue;
            }
            if (low[v] == index[v]) {
                for (int w = -1; w != v;) {
                    w = stack.back();
                    stack.pop_back();
                    on[w] = false;
                    comp[w] = ncomp;
                }
                ncomp++;
            }
            call.pop_back();
            if (!call.empty()) low[call.back().first] = std::min(low[call.back().first], low[v]);
        }
    }
    for (int r = 0; r < n; r++)
        for (auto& ref : refs[r]) {
            const Node& nd = nodes_[ref.first];
            if (ref.second || comp[nd.target] != comp[r]) continue;
            gram_ = rules_[r].grammar;
            Fail(nd.line, nd.col,
                 "recursive reference to <%s> is not at the end of rule <%s>: only right recursion is allowed",
                 nd.text.c_str(), rules_[r].name.c_str());
        }
}

// ---- building the model ----

void Reader::Flatten(int n, std::vector<Elem>& out)
{
    const Node& nd = nodes_[n];
    switch (nd.kind) {
    case kNull: break;
    case kSeq:
        for (int k : nd.kids) Flatten(k, out);
        break;
    case kTags: {
        size_t before = out.size();
        Flatten(nd.kids[0], out);
        if (intents_ && out.size() == before + 1 && out.back().node >= 0 && out.back().slot.empty() &&
            nodes_[nd.kids[0]].kind != kWord && IsSlotName(nd.tags[0]))
            out.back().slot = nd.tags[0];
        if (tr_)
            for (const std::string& t : nd.tags) out.push_back({-1, t});
        break;
    }
    case kPlus:
        // x+ is x x*, so that its first repetition can be told apart.
        if (tr_ && (nodes_[nd.kids[0]].flags & kTagged)) {
            if (nd.star < 0) {
                int s = AddNode(kStar, nd.line, nd.col);
                nodes_[s].kids = {nodes_[n].kids[0]};
                nodes_[s].flags = kUntagged | kTagged;
                nodes_[n].star = s;
            }
            int kid = nodes_[n].kids[0], star = nodes_[n].star;
            Flatten(kid, out);
            out.push_back({star, std::string()});
            break;
        }
        out.push_back({n, std::string()});
        break;
    default: out.push_back({n, std::string()}); break;
    }
}

const std::vector<Elem>& Reader::Elements(int n)
{
    if ((int)elems_.size() <= n) {
        elems_.resize(nodes_.size() + 16);
        have_elems_.resize(nodes_.size() + 16, false);
    }
    if (!have_elems_[n]) {
        std::vector<Elem> out;
        Flatten(n, out);
        if ((int)elems_.size() <= n) {
            elems_.resize(nodes_.size() + 16);
            have_elems_.resize(nodes_.size() + 16, false);
        }
        elems_[n] = out;
        have_elems_[n] = true;
    }
    return elems_[n];
}

// The list of a generated piece, made on first request and built later by
// the job queue, so that building never nests deeper than one list.
std::string Reader::ListName(int kind, int id, int start, int mode)
{
    std::string key = std::to_string(kind) + ":" + std::to_string(id) + ":" + std::to_string(start) + ":" +
                      std::to_string(mode);
    auto it = made_.find(key);
    if (it != made_.end()) return it->second;
    std::string name;
    if (kind == 0) lowered_[id] = true;
    if (kind == 5 || (kind == 0 && start == 0)) {
        name = rules_[id].list;
    } else {
        char buf[32];
        snprintf(buf, sizeof buf, "<_rule%d>", ruleno++);
        name = buf;
    }
    made_[key] = name;
    jobs_.push_back({kind, id, start, mode, name});
    return name;
}

// The list of rule r restricted to the paths of mode.
// With translations every rule gets generated lists, and a root only wraps
// them: a reference to the root's own network would be turned into a loop,
// which runs the reference's translation before the repetition it ends.
std::string Reader::RuleList(int r, int mode)
{
    if (rules_[r].flags == mode && !tr_) return ListName(0, r, 0, mode);
    return ListName(0, r, 1, mode);
}

void Reader::AddItem(Alt& a, bool terminal, const std::string& word, bool needtr, Op op)
{
    a.items.push_back({terminal, word, needtr, op});
    if (needtr) a.parts.push_back({(int)a.items.size() - 1, std::string()});
}

// An operand of * or + (or a referenced piece) as one item.
void Reader::Operand(Alt& a, int n, int mode, Op op)
{
    const Node& nd = nodes_[n];
    bool needtr = mode == kTagged;
    if (nd.kind == kWord) AddItem(a, true, nd.text, false, op);
    else if (nd.kind == kRef) AddItem(a, false, RuleList(nd.target, mode), needtr, op);
    else AddItem(a, false, ListName(1, n, 0, mode), needtr, op);
}

void Reader::Piece(Alt& a, const Elem& e, int mode)
{
    if (e.node < 0) {
        a.parts.push_back({-1, e.tag});
        a.has_tag = true;
        if (intents_ && e.tag.size() > 1 && e.tag[0] == '@') a.tags.push_back({-1, e.tag.substr(1), true});
        return;
    }
    const size_t before = a.items.size();
    const Node& nd = nodes_[e.node];
    if (mode == kTagged) a.has_tag = true;
    switch (nd.kind) {
    case kWord:
    case kRef: Operand(a, e.node, mode, OpNone); break;
    case kStar: {
        int kid = nd.kids[0];
        int kf = nodes_[kid].flags;
        if (mode == kUntagged) {
            if (kf & kUntagged) Operand(a, kid, kUntagged, OpStar);
        } else {
            AddItem(a, false, ListName(3, e.node, 0, kTagged), true, OpNone);
        }
        break;
    }
    case kPlus: Operand(a, nd.kids[0], mode, OpPlus); break;
    default: AddItem(a, false, ListName(1, e.node, 0, mode), mode == kTagged, OpNone); break;
    }
    if (!e.slot.empty() && a.items.size() == before + 1) a.tags.push_back({(int)before, e.slot, false});
}

// The alternatives of the elements of owner from start on, restricted to
// mode, each beginning with cur. Elements of one kind go straight in; at the
// first element that can be either, the alternatives fork over its two
// kinds, and the rest goes into a generated list per kind.
void Reader::Build(int owner, int start, int mode, Alt cur, std::vector<Alt>& out)
{
    const std::vector<Elem> elems = Elements(owner);
    for (size_t j = (size_t)start; j < elems.size(); j++) {
        int f = ElemFlags(elems[j]);
        if (f != (kUntagged | kTagged)) {
            Piece(cur, elems[j], f);
            continue;
        }
        bool all_untagged = true, any_tagged = false, rest_forks = false;
        for (size_t k = j + 1; k < elems.size(); k++) {
            int kf = ElemFlags(elems[k]);
            if (!(kf & kUntagged)) all_untagged = false;
            if (kf & kTagged) any_tagged = true;
            if (kf == (kUntagged | kTagged)) rest_forks = true;
        }
        int rest = (all_untagged ? kUntagged : 0) | (any_tagged ? kTagged : 0);
        for (int xm : {kTagged, kUntagged})
            for (int rm : {kTagged, kUntagged}) {
                if (!(rest & rm)) continue;
                bool tagged = cur.has_tag || xm == kTagged || rm == kTagged;
                if (tagged != (mode == kTagged)) continue;
                Alt a = cur;
                Piece(a, elems[j], xm);
                if (j + 1 < elems.size()) {
                    if (rest_forks) {
                        AddItem(a, false, ListName(2, owner, (int)j + 1, rm), rm == kTagged, OpNone);
                        if (rm == kTagged) a.has_tag = true;
                    } else {
                        for (size_t k = j + 1; k < elems.size(); k++) Piece(a, elems[k], ElemFlags(elems[k]));
                    }
                }
                out.push_back(a);
            }
        return;
    }
    out.push_back(cur);
}

void Reader::AltsOf(int n, int mode, std::vector<Alt>& out)
{
    // Building may add nodes, so nothing holds a reference into nodes_.
    if (nodes_[n].kind == kAlt) {
        const std::vector<int> kids = nodes_[n].kids;
        const std::vector<float> weights = nodes_[n].weights;
        for (size_t i = 0; i < kids.size(); i++) {
            int k = kids[i];
            if (!(nodes_[k].flags & mode)) continue;
            Alt a;
            a.weight = weights[i];
            a.line = nodes_[k].line;
            a.col = nodes_[k].col;
            Build(k, 0, mode, a, out);
        }
        return;
    }
    Alt a;
    a.line = nodes_[n].line;
    a.col = nodes_[n].col;
    Build(n, 0, mode, a, out);
}

void Reader::RunJob(const Job& j)
{
    std::vector<Alt> alts;
    bool intermediate = true;
    switch (j.kind) {
    case 0: // a rule, or its paths of one kind
        AltsOf(rules_[j.id].body, j.mode, alts);
        intermediate = j.start != 0;
        break;
    case 5: { // a public rule as a root: both kinds of its paths
        const Rule& r = rules_[j.id];
        intermediate = false;
        for (int m : {kTagged, kUntagged}) {
            if (!(r.flags & m)) continue;
            Alt a;
            a.line = r.line;
            a.col = r.col;
            AddItem(a, false, RuleList(j.id, m), m == kTagged, OpNone);
            a.has_tag = m == kTagged;
            alts.push_back(a);
        }
        break;
    }
    case 1: AltsOf(j.id, j.mode, alts); break;
    case 2: {
        Alt a;
        a.line = nodes_[j.id].line;
        a.col = nodes_[j.id].col;
        Build(j.id, j.start, j.mode, a, alts);
        break;
    }
    case 3: { // x* with at least one tagged repetition: x(untagged)* x(tagged) y*
        int kid = nodes_[j.id].kids[0];
        Alt a;
        a.line = nodes_[j.id].line;
        a.col = nodes_[j.id].col;
        if (nodes_[kid].flags & kUntagged) Operand(a, kid, kUntagged, OpStar);
        Operand(a, kid, kTagged, OpNone);
        AddItem(a, false, ListName(4, j.id, 0, kTagged), true, OpStar);
        // A repeated item's translations are concatenated, so each y below
        // brings its own leading blank.
        a.fixed = true;
        a.translation = "{1}{2}";
        alts.push_back(a);
        break;
    }
    case 4: { // y: one more repetition of x, translated " tags" or ""
        int kid = nodes_[j.id].kids[0];
        for (int m : {kTagged, kUntagged}) {
            if (!(nodes_[kid].flags & m)) continue;
            Alt a;
            a.line = nodes_[j.id].line;
            a.col = nodes_[j.id].col;
            Operand(a, kid, m, OpNone);
            a.fixed = true;
            a.translation = m == kTagged ? " {1}" : "";
            alts.push_back(a);
        }
        break;
    }
    }
    // An untagged list is only referenced without translation; in the
    // intent network, where a slot may need it, it stands for its words.
    if (j.mode == kUntagged && j.kind != 5)
        for (Alt& a : alts)
            if (!a.fixed && a.parts.empty()) a.words_only = true;
    Emit(j.name, alts, intermediate);
}

void Reader::Emit(const std::string& list, std::vector<Alt>& alts, bool intermediate)
{
    if (alts.empty()) Error("internal error: no alternatives for %s", list.c_str());
    for (Alt& a : alts) {
        std::unique_ptr<TRule> rule(new TRule());
        rule->Where(a.line, a.col);
        rule->weight = a.weight;
        if (a.items.empty()) a.items.push_back({true, std::string(), false, OpNone});
        for (const AltItem& it : a.items) {
            TPhraseItem* p = it.terminal ? rule->phrase.AddTerminal(it.word.c_str(), mbstring())
                                         : rule->phrase.AddNonterminal(it.word.c_str());
            p->needtr = it.needtr;
            p->op = it.op;
        }
        rule->tags = a.tags;
        if (tr_) {
            std::string t = a.translation;
            if (!a.fixed) {
                int k = 0;
                for (const Part& part : a.parts) {
                    if (!t.empty()) t += ' ';
                    t += part.item < 0 ? part.text : "{" + std::to_string(++k) + "}";
                }
            }
            if (!a.words_only) rule->Translation(t.c_str());
        }
        dict_->Add(list.c_str(), rule.release(), intermediate);
    }
}

int Reader::Run(const char* fn, TArray<TGrammar*>& grammars)
{
    Load(fn, std::string());
    Resolve();
    bool any_tag = false;
    for (const Node& nd : nodes_)
        if (nd.kind == kTags) any_tag = true;
    tr_ = annotations_ && any_tag;
    for (const Node& nd : nodes_)
        if (tr_ && nd.kind == kTags)
            for (const std::string& t : nd.tags) intents_ = intents_ || (t.size() > 1 && t[0] == '@');
    ComputeFlags();
    CheckRecursion();
    lowered_.assign(rules_.size(), false);

    std::vector<int> roots;
    for (const auto& kv : grammars_[0].rules)
        if (rules_[kv.second].pub) roots.push_back(kv.second);
    std::sort(roots.begin(), roots.end());
    gram_ = 0;
    if (roots.empty()) Fail(1, 1, "grammar %s has no public rule", grammars_[0].name.c_str());
    for (int r : roots)
        if (!rules_[r].flags)
            Fail(rules_[r].line, rules_[r].col, "public rule <%s> matches nothing (<VOID>)", rules_[r].name.c_str());

    TGrammar::MakeAll(grammars, [&](TDictionary* d, std::vector<mbstring>& names) {
        dict_ = d;
        for (int r : roots) {
            if (tr_) ListName(5, r, 0, 0);
            else RuleList(r, kUntagged);
        }
        for (size_t i = 0; i < jobs_.size(); i++) {
            Job j = jobs_[i];
            RunJob(j);
        }
        for (const auto& kv : grammars_[0].rules) {
            const Rule& r = rules_[kv.second];
            if (!r.pub && !lowered_[kv.second])
            {
                TPlace at;
                at.file = grammars_[0].fn.c_str();
                at.line = r.line;
                at.col = r.col;
                WarningIn(at, "<%s> defined but not used", r.name.c_str());
            }
        }
        for (int r : roots) names.push_back(rules_[r].list.c_str());
        return tr_;
    });
    return tr_;
}

} // namespace

int CompileJSGF(const char* fn, int annotations, TArray<TGrammar*>& grammars)
{
    Reader reader(annotations);
    return reader.Run(fn, grammars);
}
