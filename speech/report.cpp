// report.cpp: ResultMembers and IntentOf.
#include "report.h"

#include <cstdio>

namespace ksspeech {

namespace {

std::string Fixed(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    return buf;
}

// `, "warnings": [...]` for a recording with faults; nothing for a sound
// one, so that its object stays as it was.
std::string Warnings(const Result& r)
{
    if (r.warnings.empty()) return "";
    std::string list;
    for (const std::string& w : r.warnings) list += (list.empty() ? "" : ", ") + Json(w);
    return ", \"warnings\": [" + list + "]";
}

} // namespace

std::string ResultMembers(const Result& r)
{
    return "\"words\": " + (r.recognised ? Json(r.words) : std::string("null")) +
           ", \"accepted\": " + (r.accepted ? "true" : "false") +
           ", \"translation\": " + (r.has_translation ? Json(r.translation) : std::string("null")) + ", " +
           IntentMembers(r) + ", \"confidence\": " + Fixed(r.confidence) +
           ", \"understood\": " + (r.understood ? "true" : "false") + Warnings(r);
}

Intent IntentOf(const Result& r)
{
    Intent i;
    i.recognised = r.understood;
    if (!i.recognised) return i;
    if (r.intent.empty()) {
        // A grammar without intent tags: its translation stands for the intent.
        i.name = r.has_translation ? r.translation : r.words;
        return i;
    }
    i.name = r.intent;
    for (const auto& s : r.slots) i.entities.emplace_back(s.first, s.second.text);
    return i;
}

} // namespace ksspeech
