// intent.cpp: the structured result of a grammar with intent and slot tags:
// loading the two networks of a file (Understander), reading the marks of
// the intent network's translation (ReadMarks) and the JSON writer (ToJson).
#include "intent.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace ksintent {

namespace {

using namespace ksbnfc::marks;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// -?(0|[1-9][0-9]*)(.[0-9]+)?: a JSON number that reads back as written.
bool IsNumber(const std::string& s)
{
    size_t i = s.size() > 1 && s[0] == '-' ? 1 : 0;
    size_t digits = i;
    while (i < s.size() && IsDigit(s[i])) i++;
    if (i == digits || (s[digits] == '0' && i - digits > 1)) return false;
    if (i < s.size() && s[i] == '.') {
        size_t frac = ++i;
        while (i < s.size() && IsDigit(s[i])) i++;
        if (i == frac) return false;
    }
    return i == s.size();
}

std::string Trimmed(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return std::string();
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

} // namespace

size_t Utf8Length(const std::string& s, size_t i)
{
    unsigned char b = (unsigned char)s[i];
    size_t n = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (size_t k = 1; k < n; k++)
        if (((unsigned char)s[i + k] & 0xC0) != 0x80) return 0;
    unsigned char b1 = (unsigned char)s[i + 1];
    if ((b == 0xE0 && b1 < 0xA0) || (b == 0xED && b1 >= 0xA0) || (b == 0xF0 && b1 < 0x90) ||
        (b == 0xF4 && b1 >= 0x90))
        return 0;
    return n;
}

std::string JsonString(const std::string& s, bool utf8)
{
    std::string out = "\"";
    for (size_t i = 0; i < s.size();) {
        unsigned char c = (unsigned char)s[i];
        char buf[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c >= 0x20 && c < 0x80) {
            out += (char)c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20) {
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else if (size_t n = utf8 ? Utf8Length(s, i) : 0) {
            out.append(s, i, n);
            i += n;
            continue;
        } else {
            // Latin-1 for single-byte text; a byte that is no character of
            // UTF-8 text becomes the replacement character.
            std::snprintf(buf, sizeof buf, "\\u%04x", utf8 ? 0xFFFD : c);
            out += buf;
        }
        i++;
    }
    return out + '"';
}

namespace {


std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

Value Value::Of(const std::string& text)
{
    Value v;
    v.text = text;
    v.kind = IsNumber(text) ? Kind::Number : Kind::Text;
    return v;
}

void ReadMarks(const std::string& marked, Understanding& result)
{
    struct Frame {
        bool hidden = false;
        bool in_name = true;
        std::string name, value;
    };
    std::vector<Frame> open;
    size_t intent_depth = 0;
    bool have_intent = false;
    for (size_t i = 0; i < marked.size(); i++) {
        char c = marked[i];
        if (c == kSlot || c == kHidden) {
            open.emplace_back();
            open.back().hidden = c == kHidden;
        } else if (c == kValue) {
            if (!open.empty()) open.back().in_name = false;
        } else if (c == kEnd) {
            if (open.empty()) continue;
            Frame f = std::move(open.back());
            open.pop_back();
            std::string value = Trimmed(f.value);
            if (!f.name.empty() && !value.empty()) {
                bool found = false;
                for (auto& s : result.slots)
                    if (s.first == f.name) {
                        s.second = Value::Of(value);
                        found = true;
                    }
                if (!found) result.slots.emplace_back(f.name, Value::Of(value));
            }
            if (!f.hidden && !open.empty()) open.back().value += f.value;
        } else if (c == kIntent) {
            size_t e = marked.find(kIntentEnd, i + 1);
            if (e == std::string::npos) break;
            // The innermost intent of the sentence names it: the one nearest
            // to the words.
            if (!have_intent || open.size() > intent_depth) {
                result.intent = marked.substr(i + 1, e - i - 1);
                intent_depth = open.size();
                have_intent = true;
            }
            i = e;
        } else if (!open.empty()) {
            (open.back().in_name ? open.back().name : open.back().value) += c;
        }
    }
}

std::string IntentMembers(const Understanding& u, bool utf8)
{
    std::string out = "\"intent\": " + (u.intent.empty() ? std::string("null") : JsonString(u.intent, utf8));
    out += ", \"slots\": {";
    for (size_t i = 0; i < u.slots.size(); i++) {
        const Value& v = u.slots[i].second;
        out += (i ? ", " : "") + JsonString(u.slots[i].first, utf8) + ": ";
        out += v.kind == Value::Kind::Number ? v.text : JsonString(v.text, utf8);
    }
    return out + "}";
}

std::string ToJson(const Understanding& u, bool utf8)
{
    return "{\"text\": " + JsonString(u.text, utf8) + ", \"understood\": " + (u.understood ? "true" : "false") +
           ", " + IntentMembers(u, utf8) + "}";
}

std::unique_ptr<Understander> Understander::Load(const std::string& path)
{
    std::unique_ptr<Understander> u(new Understander);
    u->plain_ = ksbnfc::Grammar::Load(path);
    std::string network = ksbnfc::IntentNetwork(ReadFile(path));
    if (!network.empty()) u->intents_ = ksbnfc::Grammar::FromBytes(network, path);
    return u;
}

std::unique_ptr<Understander> Understander::FromBytes(const std::string& bytes, const std::string& name)
{
    std::unique_ptr<Understander> u(new Understander);
    u->plain_ = ksbnfc::Grammar::FromBytes(bytes, name);
    std::string network = ksbnfc::IntentNetwork(bytes);
    if (!network.empty()) u->intents_ = ksbnfc::Grammar::FromBytes(network, name);
    return u;
}

Understanding Understander::Understand(const ksbnfc::Words& words) const
{
    Understanding u;
    for (const std::string& w : words) u.text += (u.text.empty() ? "" : " ") + w;
    ksbnfc::Grammar::Result m = plain_->Match(words);
    u.understood = m.accepted == 2;
    if (!u.understood) return u;
    u.has_translation = m.has_translation;
    u.translation = m.translation;
    if (intents_) {
        ksbnfc::Grammar::Result marked = intents_->Match(words);
        if (marked.accepted == 2 && marked.has_translation) ReadMarks(marked.translation, u);
    }
    return u;
}

} // namespace ksintent
