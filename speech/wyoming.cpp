// wyoming.cpp: the JSON reader (recursive descent, its depth bounded),
// EventReader (a header line, extra data merged over the header's data, a
// payload, each within its limit) and EventBytes.
#include "wyoming.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace ksspeech {

const JsonValue* JsonValue::Get(const std::string& key) const
{
    const JsonValue* found = nullptr;
    if (kind == Object)
        for (const auto& m : members)
            if (m.first == key) found = &m.second;
    return found;
}

std::string JsonValue::Text(const std::string& key, const std::string& def) const
{
    const JsonValue* v = Get(key);
    return v && v->kind == String ? v->s : def;
}

long long JsonValue::Int(const std::string& key, long long def) const
{
    const JsonValue* v = Get(key);
    if (!v || v->kind != Number || !(std::fabs(v->n) < 9e15)) return def;
    return (long long)v->n;
}

namespace {

const int kMaxDepth = 64;

class JsonParser {
public:
    explicit JsonParser(const std::string& t) : t_(t) {}

    std::string Parse(JsonValue& v)
    {
        if (Value(v, 0)) {
            Space();
            if (i_ == t_.size()) return "";
            err_ = "text after the JSON value";
        }
        return err_ + " at byte " + std::to_string(i_);
    }

private:
    void Space()
    {
        while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\t' || t_[i_] == '\n' || t_[i_] == '\r')) i_++;
    }
    bool Fail(const char* what)
    {
        err_ = what;
        return false;
    }
    bool Word(const char* w)
    {
        size_t n = std::strlen(w);
        if (t_.compare(i_, n, w) != 0) return Fail("not a JSON value");
        i_ += n;
        return true;
    }

    bool Value(JsonValue& v, int depth)
    {
        Space();
        if (i_ >= t_.size()) return Fail("unexpected end of JSON");
        char c = t_[i_];
        if (c == '{' || c == '[') {
            if (depth >= kMaxDepth) return Fail("JSON nested too deeply");
            return c == '{' ? Object(v, depth) : Array(v, depth);
        }
        if (c == '"') {
            v.kind = JsonValue::String;
            return String(v.s);
        }
        if (c == 't' || c == 'f') {
            v.kind = JsonValue::Bool;
            v.b = c == 't';
            return Word(v.b ? "true" : "false");
        }
        if (c == 'n') {
            v.kind = JsonValue::Null;
            return Word("null");
        }
        return Number(v);
    }

    bool Object(JsonValue& v, int depth)
    {
        v.kind = JsonValue::Object;
        i_++;
        Space();
        if (i_ < t_.size() && t_[i_] == '}') return ++i_, true;
        for (;;) {
            Space();
            std::string key;
            if (i_ >= t_.size() || t_[i_] != '"') return Fail("expected a key in a JSON object");
            if (!String(key)) return false;
            Space();
            if (i_ >= t_.size() || t_[i_] != ':') return Fail("expected ':' in a JSON object");
            i_++;
            v.members.emplace_back(std::move(key), JsonValue());
            if (!Value(v.members.back().second, depth + 1)) return false;
            Space();
            if (i_ < t_.size() && t_[i_] == ',') {
                i_++;
                continue;
            }
            if (i_ < t_.size() && t_[i_] == '}') return ++i_, true;
            return Fail("expected ',' or '}' in a JSON object");
        }
    }

    bool Array(JsonValue& v, int depth)
    {
        v.kind = JsonValue::Array;
        i_++;
        Space();
        if (i_ < t_.size() && t_[i_] == ']') return ++i_, true;
        for (;;) {
            v.items.emplace_back();
            if (!Value(v.items.back(), depth + 1)) return false;
            Space();
            if (i_ < t_.size() && t_[i_] == ',') {
                i_++;
                continue;
            }
            if (i_ < t_.size() && t_[i_] == ']') return ++i_, true;
            return Fail("expected ',' or ']' in a JSON array");
        }
    }

    bool Hex4(unsigned& u)
    {
        if (t_.size() - i_ < 4) return Fail("short \\u escape");
        u = 0;
        for (int k = 0; k < 4; k++) {
            char c = t_[i_++];
            u <<= 4;
            if (c >= '0' && c <= '9') u |= (unsigned)(c - '0');
            else if (c >= 'a' && c <= 'f') u |= (unsigned)(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') u |= (unsigned)(c - 'A' + 10);
            else return Fail("bad \\u escape");
        }
        return true;
    }

    static void Utf8(unsigned u, std::string& out)
    {
        if (u < 0x80) {
            out += (char)u;
        } else if (u < 0x800) {
            out += (char)(0xC0 | u >> 6);
            out += (char)(0x80 | (u & 0x3F));
        } else if (u < 0x10000) {
            out += (char)(0xE0 | u >> 12);
            out += (char)(0x80 | (u >> 6 & 0x3F));
            out += (char)(0x80 | (u & 0x3F));
        } else {
            out += (char)(0xF0 | u >> 18);
            out += (char)(0x80 | (u >> 12 & 0x3F));
            out += (char)(0x80 | (u >> 6 & 0x3F));
            out += (char)(0x80 | (u & 0x3F));
        }
    }

    bool String(std::string& out)
    {
        i_++;
        for (;;) {
            if (i_ >= t_.size()) return Fail("unterminated JSON string");
            unsigned char c = (unsigned char)t_[i_++];
            if (c == '"') return true;
            if (c < 0x20) return Fail("control character in a JSON string");
            if (c != '\\') {
                out += (char)c;
                continue;
            }
            if (i_ >= t_.size()) return Fail("unterminated JSON string");
            char e = t_[i_++];
            switch (e) {
            case '"': case '\\': case '/': out += e; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned u, lo;
                if (!Hex4(u)) return false;
                if (u >= 0xD800 && u < 0xDC00 && t_.compare(i_, 2, "\\u") == 0) {
                    i_ += 2;
                    if (!Hex4(lo)) return false;
                    if (lo < 0xDC00 || lo >= 0xE000) return Fail("unpaired surrogate in a JSON string");
                    u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
                } else if (u >= 0xD800 && u < 0xE000) {
                    return Fail("unpaired surrogate in a JSON string");
                }
                Utf8(u, out);
                break;
            }
            default: return Fail("bad escape in a JSON string");
            }
        }
    }

    bool Number(JsonValue& v)
    {
        size_t b = i_;
        if (i_ < t_.size() && t_[i_] == '-') i_++;
        auto digits = [&] {
            size_t d = i_;
            while (i_ < t_.size() && t_[i_] >= '0' && t_[i_] <= '9') i_++;
            return i_ > d;
        };
        if (!digits()) return Fail("not a JSON value");
        if (i_ < t_.size() && t_[i_] == '.' && (++i_, !digits())) return Fail("bad JSON number");
        if (i_ < t_.size() && (t_[i_] == 'e' || t_[i_] == 'E')) {
            i_++;
            if (i_ < t_.size() && (t_[i_] == '+' || t_[i_] == '-')) i_++;
            if (!digits()) return Fail("bad JSON number");
        }
        v.kind = JsonValue::Number;
        v.n = std::strtod(t_.substr(b, i_ - b).c_str(), nullptr);
        return true;
    }

    const std::string& t_;
    size_t i_ = 0;
    std::string err_;
};

// A length field: absent is 0; otherwise a whole number from 0 to max.
bool Length(const JsonValue& header, const char* key, size_t max, size_t& n, std::string& error)
{
    n = 0;
    const JsonValue* v = header.Get(key);
    if (!v || v->kind == JsonValue::Null) return true;
    if (v->kind != JsonValue::Number || v->n < 0 || v->n != std::floor(v->n)) {
        error = std::string(key) + " is not a length";
        return false;
    }
    if (v->n > (double)max) {
        error = std::string(key) + " " + std::to_string((long long)std::min(v->n, 9e18)) + " is over the limit of " +
                std::to_string(max) + " bytes";
        return false;
    }
    n = (size_t)v->n;
    return true;
}

} // namespace

std::string ParseJson(const std::string& text, JsonValue& v)
{
    v = JsonValue();
    return JsonParser(text).Parse(v);
}

EventReader::EventReader(ReadFn read, const EventLimits& limits) : read_(std::move(read)), limits_(limits) {}

bool EventReader::Fill()
{
    if (closed_) return false;
    if (at_ > 0 && at_ * 2 >= buf_.size()) {
        buf_.erase(0, at_);
        at_ = 0;
    }
    char chunk[16384];
    long n = read_(chunk, sizeof chunk);
    if (n <= 0) {
        closed_ = true;
        return false;
    }
    buf_.append(chunk, (size_t)n);
    return true;
}

bool EventReader::Line(std::string& line, std::string& error)
{
    size_t scanned = at_;
    for (;;) {
        size_t nl = buf_.find('\n', scanned);
        if (nl != std::string::npos && nl - at_ <= limits_.header) {
            line.assign(buf_, at_, nl - at_);
            at_ = nl + 1;
            return true;
        }
        if (buf_.size() - at_ > limits_.header) {
            error = "header line longer than " + std::to_string(limits_.header) + " bytes";
            return false;
        }
        scanned = buf_.size();
        size_t before = at_;
        if (!Fill()) {
            error = buf_.size() > at_ ? "connection closed inside an event" : "";
            return false;
        }
        scanned -= before - at_; // Fill may have moved the unread bytes to the front
    }
}

bool EventReader::Bytes(size_t n, std::string& out)
{
    while (buf_.size() - at_ < n)
        if (!Fill()) return false;
    out.assign(buf_, at_, n);
    at_ += n;
    return true;
}

EventReader::Status EventReader::Next(Event& e, std::string& error)
{
    e = Event();
    error.clear();
    std::string line;
    do {
        if (!Line(line, error)) return error.empty() ? kClosed : kError;
        if (!line.empty() && line.back() == '\r') line.pop_back();
    } while (line.empty());
    JsonValue header;
    std::string bad = ParseJson(line, header);
    if (!bad.empty()) {
        error = "header is not JSON: " + bad;
        return kError;
    }
    const JsonValue* type = header.Get("type");
    if (header.kind != JsonValue::Object || !type || type->kind != JsonValue::String || type->s.empty()) {
        error = "header has no type";
        return kError;
    }
    e.type = type->s;
    e.data.kind = JsonValue::Object;
    if (const JsonValue* d = header.Get("data")) {
        if (d->kind == JsonValue::Object) e.data = *d;
        else if (d->kind != JsonValue::Null) {
            error = "data is not an object";
            return kError;
        }
    }
    size_t data_length, payload_length;
    if (!Length(header, "data_length", limits_.data, data_length, error) ||
        !Length(header, "payload_length", limits_.payload, payload_length, error))
        return kError;
    if (data_length > 0) {
        std::string text;
        if (!Bytes(data_length, text)) {
            error = "connection closed inside an event";
            return kError;
        }
        JsonValue extra;
        bad = ParseJson(text, extra);
        if (!bad.empty() || extra.kind != JsonValue::Object) {
            error = "extra data is not a JSON object" + (bad.empty() ? "" : ": " + bad);
            return kError;
        }
        for (auto& m : extra.members) {
            bool replaced = false;
            for (auto& have : e.data.members)
                if (have.first == m.first) {
                    have.second = m.second;
                    replaced = true;
                }
            if (!replaced) e.data.members.push_back(std::move(m));
        }
    }
    if (payload_length > 0 && !Bytes(payload_length, e.payload)) {
        error = "connection closed inside an event";
        return kError;
    }
    return kEvent;
}

std::string EventBytes(const std::string& type, const std::string& data_json, const std::string& payload)
{
    std::string h = "{\"type\": \"";
    for (char c : type) {
        if (c == '"' || c == '\\') h += '\\';
        h += c;
    }
    h += "\", \"version\": \"1.7.0\"";
    if (!data_json.empty()) h += ", \"data_length\": " + std::to_string(data_json.size());
    if (!payload.empty()) h += ", \"payload_length\": " + std::to_string(payload.size());
    return h + "}\n" + data_json + payload;
}

} // namespace ksspeech
