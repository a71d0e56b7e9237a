// tbnf.cpp: the BNF grammar parser TBNFStream: tokens (words, names,
// annotations, weights, balanced text), statements (extern, include, rule
// definitions), rule lists with groups and translations, and the two Compile
// entry points that fill a dictionary and make one TGrammar per root.
#include "trule.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <memory>
#include <string>

int ruleno = 0;

namespace {

const char kSpecial[] = ":<|.*+?=(){}\"";

// Groups, balanced brackets and includes are parsed recursively; these bounds
// keep hostile input from exhausting the stack.
const int kMaxNesting = 200;
const int kMaxIncludeDepth = 64;

bool IsBlank(mbchar c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsDigit(mbchar c) { return c >= '0' && c <= '9'; }

// Whether an include of `path` finds a file: the name as written, or with
// ".bnf" appended, on disk or given in memory.
bool Found(const std::string& path)
{
    for (const std::string& p : {path, path + ".bnf"})
        if (TSourceScope::Find(p.c_str()) || access(p.c_str(), R_OK) == 0) return true;
    return false;
}

// The folders an include is looked for in when it is not beside the
// including file: those of $KSBNFC_GRAMMARS (separated by ':'), then the
// built-in grammars' folders fixed at build time (KSBNFC_GRAMMAR_DIRS).
std::vector<std::string> GrammarFolders()
{
    std::vector<std::string> folders;
    const char* lists[] = {std::getenv("KSBNFC_GRAMMARS"), KSBNFC_GRAMMAR_DIRS};
    for (const char* list : lists) {
        std::string rest = list ? list : "";
        for (size_t at = 0; at <= rest.size();) {
            size_t colon = rest.find(':', at);
            if (colon == std::string::npos) colon = rest.size();
            if (colon > at) folders.push_back(rest.substr(at, colon - at));
            at = colon + 1;
        }
    }
    return folders;
}

} // namespace

// The tokenizer's hot loops look at the raw byte first: a byte that is
// neither a backslash nor a possible lead byte is the whole next character,
// exactly what Peek would decode. Anything else takes the general path.
inline bool TBNFStream::PlainPeek(mbchar& c)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pos.s);
    if (pos.s >= end.s || *p == '\\' || *p >= mbLo) return false;
    c = *p;
    return true;
}

// PeekSpecial for the character c just peeked.
inline int TBNFStream::IsSpecial(mbchar c)
{
    if (c == 0 || IsBlank(c)) return 1;
    if (c & KS_ESCAPED) return 0;
    if (c < 256 && std::strchr(special, (int)c)) return 1;
    return c == '-' && Peek("->");
}

void TBNFStream::Init()
{
    annotations = 1;
    sawanno = 0;
    numonly = 0;
    needtr = 0;
    tagged = 0;
    dictionary = nullptr;
    special = kSpecial;
    includer = nullptr;
    file = nullptr;
    expected = nullptr;
    include_depth = 0;
    nesting = 0;
    has_id = false;
    dev = ino = 0;
}

TBNFStream::TBNFStream(const char* fn, const char* ext) : TStream(fn, ext)
{
    Init();
    // The identity of the file actually opened, to recognise it when an
    // include leads back to it under another spelling of its path.
    struct stat st;
    if (owns_text && stat(this->fn, &st) == 0) {
        has_id = true;
        dev = (unsigned long long)st.st_dev;
        ino = (unsigned long long)st.st_ino;
    }
}

TBNFStream::TBNFStream(const char* s, int l) : TStream(s, l) { Init(); }

TBNFStream::~TBNFStream() {}

// A token that starts at `at` runs into a line end at the current position:
// "syntax error" there, while the place recorded beside it is the token's
// start, with what would have ended it. Nothing asked for a position since
// the token was read, so the count can still stop at its start.
void TBNFStream::UnterminatedToken(mbstring at, const char* expected)
{
    mbstring failed = pos;
    pos = at;
    TPlace token;
    token.file = fn;
    Where(token.line, token.col);
    token.expected = expected;
    pos = failed;
    int l, c;
    Where(l, c);
    char text[1000];
    std::snprintf(text, sizeof text, "syntax error in \"%s\", line %d, column %d", fn ? fn : "", l, c);
    ErrorText(token, "syntax error", text);
}

TPlace TBNFStream::Place(int l, int c) const
{
    TPlace at;
    at.file = fn;
    at.line = l;
    at.col = c;
    return at;
}

// What the parser was looking for when a statement could not be read.
void TBNFStream::Expected(const char* what)
{
    if (!expected) expected = what;
}

void TBNFStream::ErrorAt(int l, int c, const char* fmt, ...)
{
    char msg[1000];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(msg, sizeof msg, fmt, ap);
    va_end(ap);
    ErrorIn(Place(l, c), "%s", msg);
}

// ---- lexical layer ----

// Whether the text at p starts like a rule definition: "<name> =" or
// "<<name>> =", after blanks. Reads raw bytes, consumes nothing.
bool TBNFStream::DefinitionAt(const char* p) const
{
    const char* e = end.s;
    while (p < e && (*p == ' ' || *p == '\t' || *p == '\r')) p++;
    if (p >= e || *p != '<') return false;
    while (p < e && *p != '>' && *p != '\n') p++;
    while (p < e && *p == '>') p++;
    if (p >= e || p[-1] != '>') return false;
    while (p < e && (*p == ' ' || *p == '\t')) p++;
    return p < e && *p == '=';
}

void TBNFStream::Skip()
{
    for (;;) {
        mbchar c;
        if (PlainPeek(c)) {
            if (IsBlank(c)) {
                pos.s++;
                continue;
            }
            if (c != '/' && c != ';') return;
        }
        c = Peek();
        if (IsBlank(c)) {
            Next();
        } else if (Peek("//") || Peek(";")) {
            if (Peek(";")) semicolon = pos;
            // An escaped line feed is marked, so it does not end the comment.
            for (mbchar d = Next(); d != 0 && d != '\n'; d = Next()) {
            }
        } else {
            return;
        }
    }
}

int TBNFStream::PeekSpace() { return IsBlank(Peek()); }

int TBNFStream::PeekSpecial()
{
    mbchar c;
    if (!PlainPeek(c)) c = Peek();
    return IsSpecial(c);
}

int TBNFStream::PeekRuleTerminator()
{
    mbchar c;
    if (PlainPeek(c)) return c == '|' || c == '.' || c == '}' || c == ')';
    return Peek("|") || Peek(".") || Peek("}") || Peek(")");
}

int TBNFStream::GetLiteral(const char* s)
{
    Skip();
    return Next(s);
}

int TBNFStream::GetTerminal(mbstring& word)
{
    Skip();
    ClearKept();
    if (Peek() != '"') {
        for (;;) {
            mbchar c;
            if (PlainPeek(c)) {
                if (IsSpecial(c)) break;
                kept.Add(c);
                pos.s++;
            } else {
                if (PeekSpecial()) break;
                Keep();
            }
        }
        if (!HaveKept()) return 0;
        if (kept[kept.length - 1] == ';') semicolon = pos;
        word = GetKept();
        return 1;
    }
    mbstring quote = pos;
    Next();
    for (;;) {
        mbchar c = Peek();
        // The end of the text ends the word.
        if (c == 0) break;
        if (c == '\n') UnterminatedToken(quote, "'\"' to end the quoted word");
        if (c == '"') {
            Next();
            break;
        }
        Keep();
    }
    word = GetKept();
    return 1;
}

int TBNFStream::GetDelimited(mbstring& m, const char* start, const char* stop)
{
    Skip();
    ClearKept();
    mbstring at = pos;
    if (!Keep(start)) return 0;
    while (!Keep(stop)) {
        mbchar c = Peek();
        if (c == 0) {
            // The end of the text: no name.
            ClearKept();
            return 0;
        }
        if (c == '\n') UnterminatedToken(at, stop[1] ? "'>>' to close the name" : "'>' to close the name");
        Keep();
    }
    m = GetKept();
    return 1;
}

int TBNFStream::GetNonterminal(mbstring& name)
{
    Skip();
    if (Peek("<<")) return GetDelimited(name, "<<", ">>");
    return GetDelimited(name, "<", ">");
}

int TBNFStream::GetNonterminal(mbstring& name, int& l, int& c)
{
    Skip();
    if (Peek() == '<') Where(l, c);
    return GetNonterminal(name);
}

int TBNFStream::GetAnnotation(mbstring& anno)
{
    Skip();
    ClearKept();
    if (Peek() != '"') {
        while (!PeekSpecial()) {
            if (numonly && !IsDigit(Peek())) ErrorMsg("non-numeric annotation");
            Keep();
        }
        if (!HaveKept()) return 0;
        anno = GetKept();
        return 1;
    }
    if (numonly) ErrorMsg("non-numeric annotation");
    Keep();
    for (;;) {
        mbchar c = Peek();
        if (c == 0) break;
        Keep();
        if (c == '"') break;
        if (c == '\n') {
            int l, col;
            Where(l, col);
            WarningLine(Place(l, col), "newline in annotation");
        }
    }
    anno = GetKept();
    return 1;
}

int TBNFStream::GetNumber(float& f)
{
    Skip();
    ClearKept();
    for (mbchar c = Peek(); c != 0 && !IsBlank(c); c = Peek()) Keep();
    mbstring text = GetKept();
    f = (float)std::strtod(text.s, nullptr);
    return 1;
}

void TBNFStream::Enter(int l, int c)
{
    if (++nesting > kMaxNesting) {
        ErrorAt(l, c, "groups nested more than %d deep", kMaxNesting);
    }
}

int TBNFStream::GetBalanced(const char* close, int keep)
{
    int l, c0;
    Where(l, c0);
    Enter(l, c0);
    int quoted = 0;
    for (;;) {
        mbchar c = Peek();
        if (c == 0) {
            Leave();
            return 0;
        }
        if (c == '"') {
            Keep();
            quoted = !quoted;
        } else if (quoted) {
            Keep();
        } else if (c == '(' || c == '{') {
            Keep();
            if (!GetBalanced(c == '(' ? ")" : "}", 1)) {
                Leave();
                return 0;
            }
        } else if (Peek(close)) {
            if (keep) Keep(close);
            else Next(close);
            Leave();
            return 1;
        } else {
            Keep();
        }
    }
}

mbstring TBNFStream::MakeRuleName()
{
    char name[32];
    snprintf(name, sizeof name, "<_rule%d>", ruleno);
    ruleno++;
    return pool.Copy(name);
}

// Whether a ':' tag follows; (l, c) is its place.
bool TBNFStream::PeekTag(int& l, int& c)
{
    Skip();
    Where(l, c);
    return Next(":") != 0;
}

// Names are what a JSON key holds without escapes, so that no tag can make
// the structured result malformed.
void TBNFStream::GetTag(TRule* rule, int item, int l, int c)
{
    mbstring word;
    if (!GetTerminal(word)) ErrorAt(l, c, "a slot name or @intent expected after ':'");
    const char* s = word.s;
    bool intent = *s == '@';
    if (intent) s++;
    bool ok = *s != 0;
    for (const char* p = s; *p; p++) {
        unsigned char b = (unsigned char)*p;
        if (!(std::isalnum(b) || b == '_' || b == '-' || b >= 0x80)) ok = false;
    }
    if (!ok)
        ErrorAt(l, c, "invalid %s name '%s': letters, digits, '_' and '-' only", intent ? "intent" : "slot", s);
    rule->tags.push_back({item, s, intent});
    tagged = 1;
}

// A brace in a translation always starts a reference, whatever it holds:
// "{\"v\": {1}}" reads as {1} followed by "}". Said where it happens.
void TBNFStream::CheckBraces(int l, int c)
{
    mbstring at = pos;
    int k;
    if (!GetActionArg(at, k)) return;
    const char* p = pos.s + 1;
    while (*p == ' ') p++;
    while (IsDigit((unsigned char)*p)) p++;
    while (*p == ' ') p++;
    if (p == at.s - 1 && k > 0) return;
    std::string text(pos.s, (size_t)(at.s - pos.s));
    WarningAt(Place(l, c),
              "'%s' in a translation is read as the reference {%d}: braces in a translation "
              "stand only for references such as {1} or {}",
              text.c_str(), k);
}

// ---- statements ----

int TBNFStream::GetRule(TRule*& rule, int& tr)
{
    rule = new TRule();
    int l, c;
    Where(l, c);
    rule->Where(l, c);
    rule->file = file;

    Skip();
    if (Next("+")) {
        float w;
        GetNumber(w);
        // An infinite weight would turn every probability of the list into NaN.
        if (!(w > 0) || !std::isfinite(w)) SyntaxError();
        rule->weight = w;
    }

    for (;;) {
        Skip();
        TPhraseItem* item;
        mbstring text;
        mbchar open = Peek();
        if (open == '{' || open == '(') {
            Where(l, c);
            Next();
            mbstring name = MakeRuleName();
            int grouptr = 0;
            Enter(l, c);
            int closed = GetRuleList(name, grouptr, 1) && GetLiteral(open == '{' ? "}" : ")");
            Leave();
            if (!closed) {
                Expected(open == '{' ? "'}' to close the group" : "')' to close the group");
                return 0;
            }
            item = rule->phrase.AddNonterminal(name);
            if (open == '{' || grouptr) {
                item->needtr = 1;
                tr = 1;
            }
            if (open == '{' && annotations) needtr = 1;
        } else if (GetTerminal(text)) {
            mbstring anno;
            if (GetLiteral(":")) {
                if (!GetAnnotation(anno)) {
                    Expected("an annotation after ':'");
                    return 0;
                }
                sawanno = 1;
            }
            item = rule->phrase.AddTerminal(text, annotations ? anno : mbstring());
        } else if (GetNonterminal(text, l, c)) {
            item = rule->phrase.AddNonterminal(text);
            item->line = l;
            item->col = c;
            TSourcePos at;
            at.file = file;
            at.line = l;
            at.col = c;
            dictionary->Referenced(text, at);
        } else {
            break;
        }
        Skip();
        int index = rule->phrase.length - 1;
        bool tag = !item->terminal && PeekTag(l, c);
        if (tag) GetTag(rule, index, l, c);
        Skip();
        if (Next("?")) item->op = OpOpt;
        else if (Next("+")) item->op = OpPlus;
        else if (Next("*")) item->op = OpStar;
        if (!tag && !item->terminal && PeekTag(l, c)) GetTag(rule, index, l, c);
    }

    Skip();
    if (!Next("->")) {
        if (PeekRuleTerminator()) return 1;
        Expected("a word, a <name>, a group, '->', '|' or '.'");
        return 0;
    }

    // A translation that reads on into the next rule most likely lacks the
    // '.' that ends it: said where that would stand, after the last text
    // before the line end (a comment after "->" is no text).
    mbstring text_end = pos;
    bool hinted = false;
    auto hint = [&] {
        hinted = true;
        mbstring here = pos;
        pos = text_end;
        TPlace at;
        at.file = fn;
        Where(at.line, at.col);
        pos = here;
        Hint(at, "the translation runs on into the next line, which looks like a rule definition: "
                 "is the '.' that ends this rule missing here?");
    };
    Skip();
    ClearKept();
    if (std::memchr(text_end.s, '\n', (size_t)(pos.s - text_end.s)) && DefinitionAt(pos.s)) hint();
    if (Next("(") && !GetBalanced(")", 0)) SyntaxError();
    if (pos.s > text_end.s && !hinted) text_end = pos;
    while (!PeekRuleTerminator()) {
        mbchar ch = Peek();
        if (ch == 0) SyntaxError();
        if (ch == '\n' && !hinted && DefinitionAt(pos.s + 1)) hint();
        if (ch == '{' || ch == '(') {
            if (ch == '{' && annotations) {
                int bl, bc;
                Where(bl, bc);
                CheckBraces(bl, bc);
            }
            Keep();
            if (!GetBalanced(ch == '{' ? "}" : ")", 1)) SyntaxError();
        } else if (ch == '$') {
            Next();
            PutKept("{");
            if (!IsDigit(Keep())) SyntaxError();
            PutKept("}");
            rule->dollar = 1;
        } else {
            Keep();
        }
        if (!IsBlank(ch)) text_end = pos;
    }
    StripTrailingKeptSpaces();
    mbstring translation = GetKept();
    if (annotations) {
        needtr = 1;
        rule->Translation(translation);
    }
    return 1;
}

int TBNFStream::GetRuleList(mbstring lhs, int& tr, int intermediate)
{
    if (!first) first = lhs;
    if (lhs.s[0] && lhs.s[1] == '<') roots.Add(lhs);
    for (;;) {
        TRule* rule = nullptr;
        int ok;
        try {
            ok = GetRule(rule, tr);
        } catch (...) {
            delete rule;
            throw;
        }
        if (!ok) {
            delete rule;
            return 0;
        }
        dictionary->Add(lhs, rule, intermediate);
        if (!GetLiteral("|")) return 1;
    }
}

// Parses the included file into this stream's dictionary. A file already
// being read further up the include chain would recurse for ever, so it is
// reported at the include statement (l, c) that closes the cycle.
void TBNFStream::Include(mbstring word, int l, int c)
{
    std::unique_ptr<char[]> path;
    bool from_folders = false;
    if (word.s[0] == '/') {
        path.reset(Copy(word.s));
    } else {
        splitpath(fn);
        path.reset(makepath(nullptr, nullptr, word.s, ""));
        // Not beside the including file: the grammar folders, so that the
        // shipped grammars are included by a short name (en/numbers).
        if (!Found(path.get()))
            for (const std::string& folder : GrammarFolders()) {
                std::string there = folder + "/" + word.s;
                if (!Found(there)) continue;
                path.reset(Copy(there.c_str()));
                from_folders = true;
                break;
            }
    }
    if (include_depth + 1 > kMaxIncludeDepth)
        ErrorAt(l, c, "include files nested more than %d deep", kMaxIncludeDepth);

    // A missing file is placed at the include statement that names it.
    std::unique_ptr<TBNFStream> nested;
    try {
        nested.reset(new TBNFStream(path.get(), "bnf"));
    } catch (char* msg) {
        std::string text = msg;
        ::ErrorAt(Place(l, c), "%s", text.c_str());
    }
    for (TBNFStream* s = this; s; s = s->includer) {
        bool same = nested->has_id && s->has_id ? nested->dev == s->dev && nested->ino == s->ino
                                                 : s->fn && std::strcmp(s->fn, nested->fn) == 0;
        if (same) ErrorAt(l, c, "include cycle: '%s' is already being read", nested->fn);
    }
    TBNFStream* outermost = this;
    while (outermost->includer) outermost = outermost->includer;
    const std::pair<unsigned long long, unsigned long long> id(nested->dev, nested->ino);
    if (nested->has_id) {
        for (const auto& seen : outermost->included)
            if (seen == id) return;
        outermost->included.push_back(id);
    }
    nested->includer = this;
    nested->include_depth = include_depth + 1;
    nested->Compile(dictionary);
    if (nested->sawanno) sawanno = 1;
    // The translations of a file found in the grammar folders (the built-in
    // grammars are translation grammars) count as this file's own; those of
    // a file beside it never did.
    if (from_folders && nested->needtr) needtr = 1;
    for (int i = 0; i < nested->roots.length; i++) roots.Add(nested->roots[i]);
}

int TBNFStream::GetStatement()
{
    Skip();
    int l, c;
    Where(l, c);

    if (Next("extern") || Next("EXTERN")) {
        mbstring name;
        do {
            Where(l, c);
            if (!GetNonterminal(name)) {
                Expected("a <name> after extern");
                return 0;
            }
            TDictionaryEntry* e = dictionary->Find(name);
            if (e && e->value) ::ErrorAt(Place(l, c), "extern %s already defined", name.s);
            dictionary->AddExtern(name);
        } while (GetLiteral(","));
        GetLiteral(".");
        return 1;
    }

    if (Next("include") || Next("INCLUDE")) {
        mbstring word;
        if (!GetTerminal(word)) {
            Expected("a file name after include");
            return 0;
        }
        GetLiteral(".");
        Include(word, l, c);
        return 1;
    }

    mbstring name;
    if (!GetNonterminal(name)) {
        Expected("a rule definition, extern or include");
        return 0;
    }
    TSourcePos defined;
    defined.file = file;
    defined.line = l;
    defined.col = c;
    TRuleList* rules;
    if (dictionary->Lookup(name, rules, 0)) ::ErrorAt(Place(l, c), "%s is multiply defined", name.s);
    std::string rule_intent;
    int tl, tc;
    if (PeekTag(tl, tc)) {
        TRule named;
        GetTag(&named, -1, tl, tc);
        if (!named.tags.back().intent) ::ErrorAt(Place(tl, tc), "a rule's name can only carry an intent (:@NAME)");
        rule_intent = named.tags.back().name;
    }
    if (!GetLiteral("=")) {
        Skip();
        Expected("'=' after the rule name");
        return 0;
    }
    int tr = 0;
    if (!GetRuleList(name, tr, 0)) return 0;
    if (TDictionaryEntry* e = dictionary->Find(name))
        if (e->value) {
            e->value->defined = defined;
            if (!rule_intent.empty())
                for (int i = 0; i < e->value->length; i++) e->value->elements[i]->tags.push_back({-1, rule_intent, true});
        }
    if (GetLiteral(".")) return 1;
    Expected("'.' to end the rule definition");
    return 0;
}

void TBNFStream::Compile(TDictionary* d)
{
    dictionary = d;
    file = d->FileName(fn ? fn : "");
    for (Skip(); !End(); Skip()) {
        expected = nullptr;
        semicolon = mbstring();
        if (GetStatement()) continue;
        // Elsewhere ';' ends a rule; here it starts a comment, or is a
        // character of the word it ends.
        std::string wanted = expected ? expected : "";
        if (semicolon.s)
            wanted += std::string(wanted.empty() ? "" : " (") +
                      "a rule ends with '.' in this notation; ';' starts a comment or is part of a word" +
                      (wanted.empty() ? "" : ")");
        ErrorMsg("syntax error", wanted.empty() ? nullptr : wanted.c_str());
    }
    if (sawanno && needtr) Error("cannot use both annotations and translations");
}

void TBNFStream::Compile(TArray<TGrammar*>& grammars)
{
    TGrammar::MakeAll(grammars, [&](TDictionary* d, std::vector<mbstring>& names) {
        Compile(d);
        if (roots.length == 0) roots.Add(first);
        for (int i = 0; i < roots.length; i++) names.push_back(roots[i]);
        return needtr;
    });
}
