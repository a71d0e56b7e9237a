// wyoming.h: the framing of the home-assistant voice protocol: a JSON
// header line, optional JSON data, an optional raw payload. Offers a small
// JSON reader (no outside dependency), EventReader, which never trusts a
// length it is sent, and EventBytes, which frames an event to send.
#ifndef KSBNFC_SPEECH_WYOMING_H
#define KSBNFC_SPEECH_WYOMING_H

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace ksspeech {

struct JsonValue {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    bool b = false;
    double n = 0;
    std::string s; // a string, as UTF-8
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members; // in order; a repeated key: the last counts

    // The member named key of an object, or null.
    const JsonValue* Get(const std::string& key) const;
    // The member as a string, or def when it is missing or not a string.
    std::string Text(const std::string& key, const std::string& def = "") const;
    // The member as an integer, or def when it is missing or not a number.
    long long Int(const std::string& key, long long def) const;
};

// Parses text as exactly one JSON value. Returns "" or what is wrong with
// the byte offset. Nesting deeper than 64 levels is refused.
std::string ParseJson(const std::string& text, JsonValue& v);

struct Event {
    std::string type;
    JsonValue data; // an object: the header's data with the extra data merged over it
    std::string payload;
};

// Largest parts of an event accepted; anything larger ends the connection.
struct EventLimits {
    size_t header = 64 * 1024;
    size_t data = 64 * 1024;
    size_t payload = 4 * 1024 * 1024;
};

class EventReader {
public:
    // read fills up to n bytes and returns how many; 0 when the peer has
    // closed, less than 0 on a failure (a timeout, a reset).
    using ReadFn = std::function<long(char* buf, size_t n)>;
    explicit EventReader(ReadFn read, const EventLimits& limits = EventLimits());

    enum Status { kEvent, kClosed, kError };
    // The next event. kClosed: the peer closed between events. kError: a
    // malformed or oversized event, or a close or failure inside one; error
    // says which, and the connection is not to be read further.
    Status Next(Event& e, std::string& error);

private:
    bool Fill();
    bool Line(std::string& line, std::string& error);
    bool Bytes(size_t n, std::string& out);

    ReadFn read_;
    EventLimits limits_;
    std::string buf_;
    size_t at_ = 0;
    bool closed_ = false;
};

// One event framed to send: a header line, then data_json (an object's
// text; "" for none) as the extra data, then the payload.
std::string EventBytes(const std::string& type, const std::string& data_json, const std::string& payload = "");

} // namespace ksspeech

#endif // KSBNFC_SPEECH_WYOMING_H
