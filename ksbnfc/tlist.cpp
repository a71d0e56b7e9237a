// tlist.cpp: a plain list of slot values, one a line ("value", or "spoken
// words : value"), read as a grammar of one root named after the file. The
// entry point ListGrammar writes that grammar in the BNF notation, line for
// line, so that the parser's messages name the list's own lines.
#include "trule.h"

#include <cctype>
#include <cstring>
#include <string>
#include <unordered_map>

namespace {

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string Trimmed(const std::string& s, size_t from, size_t to)
{
    while (from < to && Blank(s[from])) from++;
    while (to > from && Blank(s[to - 1])) to--;
    return s.substr(from, to - from);
}

// Every ASCII character but letters, digits and blanks is escaped, so that
// no text of the list is special to the notation; other bytes belong to
// characters of the code page and stay as they are.
inline void EscapedChar(std::string& out, char c)
{
    unsigned char u = (unsigned char)c;
    if (u < 0x80 && !std::isalnum(u) && !Blank(c)) out += '\\';
    out += c;
}

// The root's name: the file's base name without its extension ("list" for
// standard input or a name the brackets cannot hold).
std::string RootName(const char* file)
{
    std::string name = file ? file : "";
    size_t slash = name.find_last_of('/');
    if (slash != std::string::npos) name.erase(0, slash + 1);
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    if (name.empty() || name == "-" || name.find_first_of("<>\n") != std::string::npos) return "list";
    return name;
}

} // namespace

std::string ListGrammar(const char* file, bool translations)
{
    TStream in(file, nullptr);
    const std::string text(in.stream.s, (size_t)(in.end.s - in.stream.s));
    const char* fn = in.fn;
    std::string out = "<<" + RootName(fn) + ">> =";
    out.reserve(text.size() * 2 + out.size() + 3);
    // Each entry's spoken words, folded to lower case and one blank apart:
    // the line they are on and their value.
    std::unordered_map<std::string, std::pair<int, std::string>> seen;
    seen.reserve(text.size() / 16);
    std::string key;
    int entries = 0, line = 0;
    for (size_t at = 0; at < text.size();) {
        const char* p = text.data() + at;
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', text.size() - at));
        const size_t eol = nl ? (size_t)(nl - text.data()) : text.size();
        const char* c = static_cast<const char*>(std::memchr(p, ':', eol - at));
        const size_t colon = c ? (size_t)(c - text.data()) : eol;
        const bool nul = std::memchr(p, 0, eol - at) != nullptr;
        std::string words = Trimmed(text, at, colon);
        std::string value = colon < eol ? Trimmed(text, colon + 1, eol) : words;
        at = eol + 1;
        line++;
        TPlace place;
        place.file = fn;
        place.line = line;
        place.col = 1;
        if (nul) ErrorIn(place, "a NUL byte in the list");
        if (words.empty() && colon == eol) {
            WarningIn(place, "empty line ignored");
            out += '\n';
            continue;
        }
        if (words.empty()) ErrorIn(place, "no words before ':'");
        if (value.empty()) ErrorIn(place, "no value after ':'");
        size_t brace = value.find('{');
        if (brace != std::string::npos && value.find('}', brace) != std::string::npos)
            ErrorIn(place, "a value cannot hold '{' and '}'");

        key.clear();
        for (size_t i = 0; i < words.size(); i++) {
            if (Blank(words[i])) continue;
            if (i > 0 && Blank(words[i - 1])) key += ' ';
            key += (char)std::tolower((unsigned char)words[i]);
        }
        auto found = seen.emplace(key, std::make_pair(line, value));
        if (!found.second) {
            const std::pair<int, std::string>& first = found.first->second;
            if (first.second != value)
                ErrorIn(place, "'%s' has the value '%s' on line %d", words.c_str(), first.second.c_str(), first.first);
            WarningIn(place, "duplicate of line %d ignored", first.first);
            out += '\n';
            continue;
        }
        out += entries++ ? " | " : " ";
        for (size_t i = 0; i < words.size(); i++) {
            if (Blank(words[i])) {
                if (!Blank(words[i - 1])) out += ' ';
                continue;
            }
            EscapedChar(out, words[i]);
        }
        if (translations) {
            out += " -> ";
            for (char ch : value) EscapedChar(out, ch);
        }
        out += '\n';
    }
    if (!entries) Error("no entries in the list '%s'", fn);
    out += ".\n";
    return out;
}
