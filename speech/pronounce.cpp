// pronounce.cpp: dictionary files, the espeak-ng mnemonic table and the
// child process that runs espeak-ng.
#include "pronounce.h"

#include "audio.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace ksspeech {
namespace {

// espeak-ng's English mnemonics, longest first where one is the start of
// another. Reduced and unstressed variants map to their full vowels; r-
// coloured vowels to the vowel and R.
const struct {
    const char* espeak;
    const char* phones;
} kMnemonics[] = {
    {"aI@L", "AY AH L"}, {"aU@L", "AW AH L"},
    {"aI@", "AY ER"}, {"aI3", "AY ER"}, {"aU@", "AW ER"}, {"i@3", "IY ER"},
    {"aI", "AY"}, {"aU", "AW"}, {"eI", "EY"}, {"oU", "OW"}, {"OI", "OY"},
    {"i:", "IY"}, {"u:", "UW"}, {"A:", "AA"}, {"O:", "AO"}, {"3:", "ER"},
    {"A@", "AA R"}, {"O@", "AO R"}, {"o@", "AO R"}, {"e@", "EH R"}, {"i@", "IY ER"},
    {"I@", "IH R"}, {"U@", "UH R"}, {"@L", "AH L"}, {"@2", "AH"}, {"@5", "AH"},
    {"@r", "ER"}, {"3r", "ER"}, {"a#", "AH"}, {"I2", "IH"}, {"I#", "IH"}, {"E2", "EH"},
    {"E#", "EH"}, {"0#", "AA"}, {"aa", "AE"}, {"tS", "CH"}, {"dZ", "JH"}, {"t#", "T"},
    {"d#", "D"}, {"z#", "Z"}, {"t2", "T"}, {"d2", "D"}, {"n-", "N"}, {"l-", "L"},
    {"r-", "R"},
    {"a", "AE"}, {"A", "AA"}, {"E", "EH"}, {"I", "IH"}, {"i", "IY"}, {"0", "AA"},
    {"O", "AO"}, {"U", "UH"}, {"u", "UW"}, {"V", "AH"}, {"@", "AH"}, {"3", "ER"},
    {"e", "EH"}, {"o", "OW"},
    {"p", "P"}, {"b", "B"}, {"t", "T"}, {"d", "D"}, {"k", "K"}, {"g", "G"},
    {"f", "F"}, {"v", "V"}, {"s", "S"}, {"z", "Z"}, {"h", "HH"}, {"m", "M"},
    {"n", "N"}, {"l", "L"}, {"r", "R"}, {"w", "W"}, {"j", "Y"}, {"T", "TH"},
    {"D", "DH"}, {"S", "SH"}, {"Z", "ZH"}, {"N", "NG"}, {"x", "K"},
    {"*", "T"}, // flap
    {"?", "T"}, // glottal stop
};

// Stress, syllable, length and pause marks carry no phone, nor do the
// marks of a palatalised (;) or nasalised (~) sound: about one word in
// twenty has one ("macchiato" m,akI2;'A:t#oU).
bool Mark(char c)
{
    return std::strchr("',%=_:|#-!^;~", c) != nullptr || std::isspace((unsigned char)c);
}

std::string Lower(std::string s)
{
    for (char& c : s) c = (char)std::tolower((unsigned char)c);
    return s;
}

} // namespace

std::vector<std::string> Split(const std::string& s)
{
    std::vector<std::string> fields;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && std::isspace((unsigned char)s[i])) i++;
        size_t b = i;
        while (i < s.size() && !std::isspace((unsigned char)s[i])) i++;
        if (i > b) fields.push_back(s.substr(b, i - b));
    }
    return fields;
}

void ReadDictionary(const std::string& path, Dictionary& into, std::vector<std::string>& warnings)
{
    std::ifstream in(path);
    if (!in) throw SpeechError("can't open dictionary '" + path + "' (" + std::strerror(errno) + ")");
    std::string line;
    for (int n = 1; std::getline(in, line); n++) {
        std::istringstream fields(line);
        std::string word, phone, phones;
        if (!(fields >> word) || word[0] == '#' || word.compare(0, 2, ";;") == 0) continue;
        while (fields >> phone) phones += (phones.empty() ? "" : " ") + phone;
        if (phones.empty()) {
            warnings.push_back(path + ":" + std::to_string(n) + ": '" + word + "' has no pronunciation; line ignored");
            continue;
        }
        size_t paren = word.find('(');
        if (paren != std::string::npos && paren > 0 && word.back() == ')') word.erase(paren);
        std::vector<std::string>& prons = into[Lower(word)];
        if (std::find(prons.begin(), prons.end(), phones) == prons.end()) prons.push_back(phones);
    }
}

std::string EspeakToPhones(const std::string& m)
{
    std::string out;
    size_t i = 0;
    while (i < m.size()) {
        bool found = false;
        for (const auto& e : kMnemonics) {
            size_t n = std::strlen(e.espeak);
            if (m.compare(i, n, e.espeak) == 0) {
                std::string p = e.phones;
                // A vowel mnemonic followed by the r of its spelling: one R.
                bool r_after_r = p == "R" && out.size() >= 1 && out.back() == 'R';
                if (!r_after_r) out += (out.empty() ? "" : " ") + p;
                i += n;
                found = true;
                break;
            }
        }
        if (found) continue;
        if (!Mark(m[i]) && !std::isdigit((unsigned char)m[i])) return "";
        i++;
    }
    return out;
}

bool RunEspeak(const std::string& word, std::string* mnemonics)
{
    mnemonics->clear();
    int to_child[2], from_child[2];
    if (pipe(to_child) != 0) return false;
    if (pipe(from_child) != 0) {
        close(to_child[0]);
        close(to_child[1]);
        return false;
    }
    pid_t pid = fork();
    if (pid < 0) {
        for (int fd : {to_child[0], to_child[1], from_child[0], from_child[1]}) close(fd);
        return false;
    }
    if (pid == 0) {
        dup2(to_child[0], 0);
        dup2(from_child[1], 1);
        int null = open("/dev/null", 1);
        if (null >= 0) dup2(null, 2);
        for (int fd : {to_child[0], to_child[1], from_child[0], from_child[1]}) close(fd);
        execlp("espeak-ng", "espeak-ng", "-q", "-x", "-v", "en-us", "--stdin", (char*)nullptr);
        _exit(127);
    }
    close(to_child[0]);
    close(from_child[1]);
    std::string text = word + "\n";
    // A word is far shorter than a pipe's buffer: the write can't block. A
    // child that could not start has closed its end already: the write must
    // fail with EPIPE rather than end this process.
    struct sigaction ignore = {}, old_action;
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &old_action);
    bool ok = write(to_child[1], text.data(), text.size()) == (ssize_t)text.size();
    sigaction(SIGPIPE, &old_action, nullptr);
    close(to_child[1]);
    std::string out;
    char buf[512];
    ssize_t n;
    while ((n = read(from_child[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) out.append(buf, (size_t)n);
    close(from_child[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) return false; // not installed
    if (!ok || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return true;
    for (char c : out)
        if (!std::isspace((unsigned char)c)) *mnemonics += c;
    return true;
}

} // namespace ksspeech
