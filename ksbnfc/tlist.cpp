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
void Escaped(std::string& out, const std::string& text)
{
    for (char c : text) {
        unsigned char u = (unsigned char)c;
        if (u < 0x80 && !std::isalnum(u) && !Blank(c)) out += '\\';
        out += c;
    }
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
    // Each entry's spoken words, folded to lower case, and words and value:
    // the line it is on, and its value.
    std::unordered_map<std::string, std::pair<int, std::string>> seen;
    seen.reserve(text.size() / 8);
    int entries = 0, line = 0;
    for (size_t at = 0; at < text.size();) {
        size_t eol = text.find('\n', at);
        if (eol == std::string::npos) eol = text.size();
        line++;
        TPlace place;
        place.file = fn;
        place.line = line;
        place.col = 1;
        size_t colon = text.find(':', at);
        if (colon > eol) colon = eol;
        std::string words = Trimmed(text, at, colon);
        std::string value = colon < eol ? Trimmed(text, colon + 1, eol) : words;
        const size_t place_start = at;
        at = eol + 1;
        if (std::memchr(text.data() + place_start, 0, eol - place_start)) {
            ErrorIn(place, "a NUL byte in the list");
        } else if (words.empty() && colon == eol) {
            WarningIn(place, "empty line ignored");
        } else if (words.empty()) {
            ErrorIn(place, "no words before ':'");
        } else if (value.empty()) {
            ErrorIn(place, "no value after ':'");
        } else if (value.find('{') != std::string::npos && value.find('}', value.find('{')) != std::string::npos) {
            ErrorIn(place, "a value cannot hold '{' and '}'");
        } else {
            std::string key;
            bool gap = false;
            for (char c : words) {
                if (Blank(c)) {
                    gap = true;
                    continue;
                }
                if (gap && !key.empty()) key += ' ';
                gap = false;
                key += (char)std::tolower((unsigned char)c);
            }
            auto first = seen.emplace(key + '\n' + value, std::make_pair(line, std::string()));
            auto same_words = seen.emplace(key, std::make_pair(line, value));
            if (!first.second) {
                WarningIn(place, "duplicate of line %d ignored", first.first->second.first);
            } else if (!same_words.second) {
                ErrorIn(place, "'%s' has the value '%s' on line %d", words.c_str(),
                        same_words.first->second.second.c_str(), same_words.first->second.first);
            } else {
                out += entries++ ? " |" : "";
                for (size_t w = 0; w < words.size();) {
                    size_t stop = w;
                    while (stop < words.size() && !Blank(words[stop])) stop++;
                    out += ' ';
                    Escaped(out, words.substr(w, stop - w));
                    while (stop < words.size() && Blank(words[stop])) stop++;
                    w = stop;
                }
                if (translations) {
                    out += " -> ";
                    Escaped(out, value);
                }
            }
        }
        out += '\n';
    }
    if (!entries) Error("no entries in the list '%s'", fn);
    out += ".\n";
    return out;
}
