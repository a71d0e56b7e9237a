// intent.h: what a grammar with intent and slot tags (docs/intents.md)
// understands from a word string, as one structured result, and the JSON
// form of that result. Built on the inner interface; the tools, the Python
// module and C++ callers all get their result here, so it is the same
// everywhere.
#ifndef KSBNFC_INTENT_H
#define KSBNFC_INTENT_H

#include "ksbnfc_inner.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace ksintent {

// A slot's value: the spoken words or the translation of its part. A value
// written as a JSON number ("20", "-3", "2.5"; not "021") is a number.
struct Value {
    enum class Kind { Text, Number };
    Kind kind = Kind::Text;
    std::string text;

    static Value Of(const std::string& text);
    bool operator==(const Value& o) const { return kind == o.kind && text == o.text; }
};

struct Understanding {
    std::string text;        // the words, joined by blanks
    bool understood = false; // the grammar accepts the words
    std::string intent;      // empty: none
    // In the order the intent network's translation gives them, which
    // carries no meaning; a slot filled twice keeps its last value, a slot
    // whose value is empty is left out.
    std::vector<std::pair<std::string, Value>> slots;
    // The plain translation, as Grammar::Match gives it.
    bool has_translation = false;
    std::string translation;
};

// The intent and slots that the intent network's translation of a sentence
// holds (see ksbnfc::marks), into result.
void ReadMarks(const std::string& marked, Understanding& result);

// The length of the well-formed UTF-8 character at s[i], 0 if none starts
// there (a stray or cut-short byte, an overlong form, a surrogate).
size_t Utf8Length(const std::string& s, size_t i);

// Text as a JSON string, quotes included. It is taken as UTF-8 where utf8
// is set (a byte that starts no character becomes U+FFFD), else as
// single-byte text whose bytes above 0x7F are Latin-1; whatever it holds,
// the result is a well-formed JSON string.
std::string JsonString(const std::string& text, bool utf8 = true);
// The members `"intent": ...|null, "slots": {...}`, for an object that
// carries other members too (a recogniser's result).
std::string IntentMembers(const Understanding& u, bool utf8 = true);
// One JSON object, without a line end:
//   {"text": ..., "understood": true|false, "intent": ...|null, "slots": {...}}
std::string ToJson(const Understanding& u, bool utf8 = true);

// A loaded translation FSG and, when its grammar has tags, the intent
// network the file carries. Matching may run on several threads at once.
class Understander {
public:
    // The FSG file at path; or a file's bytes, `name` standing for it in
    // messages and for the folder of its extern grammars. Throws
    // ksbnfc::Failure.
    static std::unique_ptr<Understander> Load(const std::string& path);
    static std::unique_ptr<Understander> FromBytes(const std::string& bytes, const std::string& name);

    const ksbnfc::Grammar& Grammar() const { return *plain_; }
    bool HasIntents() const { return intents_ != nullptr; }
    // Whether the grammar's texts are UTF-8, for ToJson.
    bool Utf8() const { return plain_->Graph().CodePage() == 65001; }

    Understanding Understand(const ksbnfc::Words& words) const;

private:
    std::unique_ptr<ksbnfc::Grammar> plain_, intents_;
};

} // namespace ksintent

#endif // KSBNFC_INTENT_H
