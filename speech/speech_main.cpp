// speech_main.cpp: SpeechMain: sets up the pipeline once and reports words,
// acceptance, translation and timing for each recording.
#include "speech_main.h"

#include "audio.h"
#include "pipeline.h"
#include "report.h"

using ksspeech::Json;
using ksspeech::Result;
using ksspeech::SpeechError;

namespace {

void Print(std::FILE* out, const SpeechRequest& r, const std::string& file, const Result& res)
{
    double rtf = res.audio > 0 ? res.decode / res.audio : 0;
    if (r.json) {
        std::fprintf(out, "{\"file\": %s, %s, \"hypothesis\": %d, \"audio_seconds\": %.3f, "
                          "\"decode_seconds\": %.3f, \"real_time_factor\": %.3f}\n",
                     Json(file).c_str(), ksspeech::ResultMembers(res).c_str(), res.rank, res.audio, res.decode, rtf);
        return;
    }
    std::fprintf(out, "%s\n", file == "-" ? "standard input" : file.c_str());
    for (const std::string& w : res.warnings) std::fprintf(out, "  warning:     %s\n", w.c_str());
    std::fprintf(out, "  words:       %s%s\n", res.recognised ? res.words.c_str() : "(nothing recognised)",
                 res.recognised && !res.complete ? " (partial: the search ended before the sentence did)" : "");
    std::fprintf(out, "  accepted:    %s\n", res.accepted ? "yes" : "no");
    if (res.rank > 1) std::fprintf(out, "  hypothesis:  %d of the n best\n", res.rank);
    std::fprintf(out, "  translation: %s\n", res.has_translation ? res.translation.c_str() : "-");
    if (!res.intent.empty()) {
        std::string slots;
        for (const auto& s : res.slots) slots += (slots.empty() ? "" : ", ") + s.first + "=" + s.second.text;
        std::fprintf(out, "  intent:      %s\n  slots:       %s\n", res.intent.c_str(), slots.empty() ? "-" : slots.c_str());
    }
    std::fprintf(out, "  confidence:  %.2f\n", res.confidence);
    if (!res.understood)
        std::fprintf(out, "  NOT UNDERSTOOD: %s\n",
                     !res.recognised ? "nothing recognised"
                     : !res.accepted ? "the words are no sentence of the grammar"
                                     : "the confidence is below the threshold (--threshold)");
    std::fprintf(out, "  time:        %.2f s of audio decoded in %.2f s (%.2f x real time)\n", res.audio,
                 res.decode, rtf);
}

} // namespace

int SetUp(const SpeechRequest& r, std::FILE* err, const std::function<int()>& work)
{
    try {
        return work();
    } catch (const SpeechError& e) {
        std::fprintf(err, "ksspeech: %s\n", e.what());
    } catch (const ksexport::Error& e) {
        std::fprintf(err, "ksspeech: %s: %s\n", r.grammar.c_str(), e.what());
    } catch (const ksbnfc::Failure& e) {
        std::fprintf(err, "ksspeech: %s\n", e.diagnostic().Located(r.grammar).c_str());
    }
    return 2;
}

int SpeechMain(const SpeechRequest& r, std::FILE* out, std::FILE* err)
{
    return SetUp(r, err, [&] {
        ksspeech::Pipeline pipeline(r, err);
        int status = 0;
        for (const std::string& file : r.recordings) {
            try {
                Result res = pipeline.Recognise(ksspeech::ReadRecording(file, pipeline.SampleRate(), r.raw));
                Print(out, r, file, res);
                if (!res.understood && status == 0) status = 1;
            } catch (const SpeechError& e) {
                std::fprintf(err, "ksspeech: %s\n", e.what());
                if (r.json) std::fprintf(out, "{\"file\": %s, \"error\": %s}\n", Json(file).c_str(), Json(e.what()).c_str());
                status = 2;
            }
            std::fflush(out);
        }
        return status;
    });
}
