// segmenter.h: where utterances start and end in a stream of samples, by
// frame energy against a tracked noise floor, with an onset, a hangover and
// a cap on the length. Needs no recogniser; memory is constant whatever the
// length of the stream.
#ifndef KSBNFC_SPEECH_SEGMENTER_H
#define KSBNFC_SPEECH_SEGMENTER_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace ksspeech {

struct SegmenterOptions {
    int rate = 16000;
    int frame_ms = 10;
    double start_db = 10;  // a frame is speech this far above the noise floor
    double stay_db = 6;    // and stays speech, inside an utterance, this far above
    double min_db = 30;    // never speech below this level (re one sample step),
    double peak_db = 40;   // unless the stream is so quiet that this far below
    int level_ms = 30000;  // its loudest frame of this long is lower still
    int onset_ms = 60;     // speech this long, unbroken, starts an utterance
    int hangover_ms = 250; // quiet this long ends it
    int preroll_ms = 200;  // audio before the onset given with the utterance
    int max_ms = 15000;    // an utterance is ended after this long
    int floor_ms = 3000;   // the noise floor is the quietest frame of this long
};

// Receives what a Segmenter finds. Times are sample indices in the stream.
class SegmentSink {
public:
    virtual ~SegmentSink() = default;
    // An utterance begins: speech from sample `at`; its audio follows, from
    // up to preroll_ms earlier.
    virtual void Start(int64_t at) = 0;
    virtual void Audio(const int16_t* samples, size_t n) = 0;
    // The utterance ends: its last speech before sample `at`; forced when
    // it reached max_ms.
    virtual void End(int64_t at, bool forced) = 0;
};

// The least value of the last `blocks` * `block` taken, kept as the minima
// of whole blocks and of the block being filled: a few numbers whatever
// the window.
class MovingMin {
public:
    MovingMin(size_t block, size_t blocks) : block_(block), blocks_(blocks) {}
    // Takes v; returns the least of the window, v included.
    double Add(double v);

private:
    size_t block_, blocks_, fill_ = 0;
    std::deque<double> done_;
    double low_ = 1e300;
};

class Segmenter {
public:
    explicit Segmenter(const SegmenterOptions& o = SegmenterOptions());
    // Takes any number of samples; calls the sink as frames complete.
    void Feed(const int16_t* samples, size_t n, SegmentSink& sink);
    // The stream ended: an utterance under way ends here.
    void Flush(SegmentSink& sink);
    bool InUtterance() const { return in_; }
    int64_t Position() const { return pos_; }
    double NoiseFloor() const { return floor_; }

private:
    void Frame(SegmentSink& sink);

    SegmenterOptions o_;
    size_t frame_, onset_, hangover_, preroll_, max_;
    std::vector<int16_t> cur_;       // the frame being filled
    std::deque<int16_t> recent_;     // pre-roll and onset frames, outside an utterance
    MovingMin floor_window_;         // of the frame energies
    MovingMin level_window_;         // of the frame energies negated: the loudest
    double floor_ = -1;
    bool in_ = false;
    size_t run_ = 0, quiet_ = 0, length_ = 0;
    int64_t pos_ = 0;       // samples taken
    int64_t last_speech_ = 0;
};

} // namespace ksspeech

#endif // KSBNFC_SPEECH_SEGMENTER_H
