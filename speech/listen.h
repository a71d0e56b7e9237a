// listen.h: the listening mode: one stream of audio in, one JSON line out
// for each utterance as soon as it ends.
#ifndef KSBNFC_SPEECH_LISTEN_H
#define KSBNFC_SPEECH_LISTEN_H

#include "capture.h"
#include "pipeline.h"
#include "segmenter.h"

#include <csignal>
#include <cstdio>

namespace ksspeech {

struct ListenOptions {
    SegmenterOptions segments;
    bool partial = false;      // partial hypotheses while speech goes on
    int min_speech_ms = 150;   // shorter utterances are taken for noise
};

// Reads src until it ends or *stop is set (by a signal handler), decoding
// each utterance when it ends (with partial, also while it is spoken).
// Lines go to out, flushed one by one:
//   {"start": S, "end": E, "words": ..., "accepted": ..., "translation": ...}
//   {"partial": WORDS, "start": S}            (with partial)
// Returns 0 at the end of the stream or on stop, 2 after a failure of the
// source or of out (a closed pipe), said on err.
int Listen(Pipeline& pipeline, AudioSource& src, const ListenOptions& o, std::FILE* out, std::FILE* err,
           volatile std::sig_atomic_t* stop);

} // namespace ksspeech

#endif // KSBNFC_SPEECH_LISTEN_H
