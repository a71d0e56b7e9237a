// serve.h: the voice service: the home-assistant voice protocol over TCP,
// speech to text and text to intent with the grammar, for several clients
// at once.
#ifndef KSBNFC_SPEECH_SERVE_H
#define KSBNFC_SPEECH_SERVE_H

#include "pipeline.h"

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace ksspeech {

struct ServeOptions {
    std::string host = "0.0.0.0";
    int port = 10300;
    int max_clients = 32;   // more connections are told the service is busy
    int max_seconds = 15;   // audio per utterance
    int idle_seconds = 120; // a client silent this long is dropped
    std::string model;      // the name the grammar is offered under
    std::string language = "en";
};

// Reads "tcp://HOST:PORT" into o; returns "" or what is wrong with it.
std::string ParseAddress(const std::string& uri, ServeOptions& o);

// Serves until *stop is set (by a signal handler). The decoders are shared
// by all connections, one utterance at a time each; a connection waits for
// a free one. Says on err where it listens ("ksspeech: serving MODEL on
// tcp://HOST:PORT", the port as bound) and what goes wrong with clients.
// Returns 0 after a stop, 2 when it can't listen.
int Serve(std::vector<std::unique_ptr<Pipeline>>& decoders, const ServeOptions& o, std::FILE* err,
          volatile std::sig_atomic_t* stop);

} // namespace ksspeech

#endif // KSBNFC_SPEECH_SERVE_H
