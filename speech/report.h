// report.h: what an utterance gave, in the forms the listening and serving
// modes send: the members of a JSON object, and an intent. Every field a
// result carries is added here, once, for both modes.
#ifndef KSBNFC_SPEECH_REPORT_H
#define KSBNFC_SPEECH_REPORT_H

#include "pipeline.h"

#include <string>
#include <utility>
#include <vector>

namespace ksspeech {

// `"words": ..., "accepted": ..., "translation": ...` for inside a JSON
// object; words and translation are null when there are none.
std::string ResultMembers(const Result& r);

struct Intent {
    bool recognised = false;
    std::string name;
    std::vector<std::pair<std::string, std::string>> entities; // name, value
};

// The intent an accepted result stands for, its slots as the entities; for
// a grammar without intent tags, the translation (else the words) as the
// name, without entities.
Intent IntentOf(const Result& r);

} // namespace ksspeech

#endif // KSBNFC_SPEECH_REPORT_H
