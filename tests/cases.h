// cases.h: tables of cases in data files (tests/data): one case a line, fields
// separated by " ⇒ ", "#" lines skipped, a line ending in a backslash goes on
// with the next. Unescape decodes \n, \t, \r, \xHH and \ before any other byte.
#ifndef KSBNFC_TESTS_CASES_H
#define KSBNFC_TESTS_CASES_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace cases {

struct Case {
    std::string at; // "file:line", for failure messages
    std::vector<std::string> fields;
    std::string operator[](size_t i) const { return i < fields.size() ? fields[i] : std::string(); }
};

inline std::vector<Case> Read(const std::string& name)
{
    std::vector<Case> out;
    std::ifstream in(std::string(KSBNFC_TEST_DATA) + "/" + name);
    EXPECT_TRUE(in.good()) << "no data file " << name;
    std::string line, text;
    for (int n = 1, first = 1; std::getline(in, line); n++) {
        if (text.empty()) first = n;
        if (text.empty() && (line.empty() || line[0] == '#')) continue;
        if (!text.empty()) line.erase(0, line.find_first_not_of(' '));
        size_t tail = line.size() - line.find_last_not_of('\\') - 1;
        if (tail % 2) {
            text += line.substr(0, line.size() - 1);
            continue;
        }
        text += line;
        if (text.size() >= 4 && text.compare(text.size() - 4, 4, " \u21d2") == 0) text += " "; // an empty last field
        Case c{name + ":" + std::to_string(first), {}};
        for (size_t at = 0, sep; at <= text.size(); at = sep + 5) {
            sep = text.find(" \u21d2 ", at);
            if (sep == std::string::npos) sep = text.size();
            c.fields.push_back(text.substr(at, sep - at));
        }
        out.push_back(c);
        text.clear();
    }
    return out;
}

inline std::string Unescape(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char c = s[++i];
        if (c == 'x' && i + 2 < s.size()) {
            out += (char)std::strtol(s.substr(i + 1, 2).c_str(), nullptr, 16);
            i += 2;
        } else {
            out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
        }
    }
    return out;
}

} // namespace cases

#endif // KSBNFC_TESTS_CASES_H
