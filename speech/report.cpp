// report.cpp: ResultMembers and IntentOf.
#include "report.h"

namespace ksspeech {

std::string ResultMembers(const Result& r)
{
    return "\"words\": " + (r.recognised ? Json(r.words) : std::string("null")) +
           ", \"accepted\": " + (r.accepted ? "true" : "false") +
           ", \"translation\": " + (r.has_translation ? Json(r.translation) : std::string("null"));
}

Intent IntentOf(const Result& r)
{
    Intent i;
    i.recognised = r.accepted;
    if (i.recognised) i.name = r.has_translation ? r.translation : r.words;
    return i;
}

} // namespace ksspeech
