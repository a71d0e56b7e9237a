// stream_main.cpp: ListenMain and ServeMain: the pipelines the streaming
// modes need, set up once, and the signals that end them cleanly.
#include "speech_main.h"

#include "audio.h"
#include "listen.h"
#include "pipeline.h"
#include "serve.h"

#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int)
{
    g_stop = 1;
}

// SIGINT and SIGTERM set g_stop and interrupt a blocking read (no
// SA_RESTART); a closed pipe shows as a failed write, not a signal.
void CatchSignals()
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

std::string BaseName(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    std::string n = path.substr(slash == std::string::npos ? 0 : slash + 1);
    return n.substr(0, n.find_last_of('.'));
}

} // namespace

int ListenMain(const SpeechRequest& r, std::FILE* out, std::FILE* err)
{
    return SetUp(r, err, [&] {
        ksspeech::Pipeline pipeline(r, err);
        std::unique_ptr<ksspeech::AudioSource> src =
            r.device.empty() ? ksspeech::OpenStream(0, "standard input", pipeline.SampleRate())
                             : ksspeech::OpenDevice(r.device, pipeline.SampleRate());
        ksspeech::ListenOptions o;
        o.partial = r.partial;
        o.segments.max_ms = r.max_utterance * 1000;
        CatchSignals();
        return ksspeech::Listen(pipeline, *src, o, out, err, &g_stop);
    });
}

int ServeMain(const SpeechRequest& r, std::FILE* err)
{
    ksspeech::ServeOptions o;
    std::string bad = ksspeech::ParseAddress(r.serve, o);
    if (!bad.empty()) {
        std::fprintf(err, "ksspeech: --serve: %s\n", bad.c_str());
        return 2;
    }
    o.max_clients = r.max_clients;
    o.max_seconds = r.max_utterance;
    o.model = BaseName(r.grammar);
    o.language = r.language;
    return SetUp(r, err, [&] {
        // The grammar's warnings once, from the first decoder; the others
        // keep their FILE until the service ends.
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> quiet(std::fopen("/dev/null", "w"), std::fclose);
        std::vector<std::unique_ptr<ksspeech::Pipeline>> decoders;
        for (int i = 0; i < r.decoders; i++)
            decoders.emplace_back(new ksspeech::Pipeline(r, i == 0 || !quiet ? err : quiet.get()));
        CatchSignals();
        return ksspeech::Serve(decoders, o, err, &g_stop);
    });
}
