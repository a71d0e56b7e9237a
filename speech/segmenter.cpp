// segmenter.cpp: Segmenter: frame energies in decibels against a noise
// floor that is the quietest frame of the last few seconds (kept as the
// minima of ten blocks, so that tracking it costs a few numbers), an onset
// of unbroken speech frames to start and a hangover of quiet ones to end.
// Near digital silence the floor says little, so a frame must also reach an
// absolute level; for a quiet microphone that level comes down with the
// loudest frame heard lately, or the softer sounds of its words (30 dB
// below the vowels) would split and clip them, and at 35 dB below full
// scale nothing at all would be heard.
#include "segmenter.h"
#include "snr.h"

#include <algorithm>
#include <cmath>

namespace ksspeech {

namespace {
const size_t kFloorBlocks = 10;
}

double MovingMin::Add(double v)
{
    low_ = std::min(low_, v);
    if (++fill_ == block_) {
        done_.push_back(low_);
        if (done_.size() > blocks_) done_.pop_front();
        low_ = 1e300;
        fill_ = 0;
    }
    double least = low_;
    for (double b : done_) least = std::min(least, b);
    return least;
}

namespace {
size_t Frames(const SegmenterOptions& o, int ms) { return (size_t)std::max(1, ms / std::max(1, o.frame_ms)); }
size_t Block(const SegmenterOptions& o, int ms) { return std::max<size_t>(1, Frames(o, ms) / kFloorBlocks); }
} // namespace

Segmenter::Segmenter(const SegmenterOptions& o)
    : o_(o), floor_window_(Block(o, o.floor_ms), kFloorBlocks), level_window_(Block(o, o.level_ms), kFloorBlocks)
{
    frame_ = (size_t)std::max(1, o_.rate * o_.frame_ms / 1000);
    onset_ = Frames(o_, o_.onset_ms);
    hangover_ = Frames(o_, o_.hangover_ms);
    preroll_ = (size_t)std::max(0, o_.preroll_ms / std::max(1, o_.frame_ms));
    max_ = Frames(o_, o_.max_ms) * frame_;
    cur_.reserve(frame_);
}

void Segmenter::Feed(const int16_t* samples, size_t n, SegmentSink& sink)
{
    for (size_t i = 0; i < n;) {
        size_t take = std::min(n - i, frame_ - cur_.size());
        cur_.insert(cur_.end(), samples + i, samples + i + take);
        i += take;
        pos_ += (int64_t)take;
        if (cur_.size() == frame_) {
            Frame(sink);
            cur_.clear();
        }
    }
}

void Segmenter::Frame(SegmentSink& sink)
{
    double e = FrameEnergyDb(cur_.data(), cur_.size());

    floor_ = floor_window_.Add(e);
    double loudest = -level_window_.Add(-e);
    double least = std::min(o_.min_db, loudest - o_.peak_db);
    bool speech = e > std::max(floor_ + (in_ ? o_.stay_db : o_.start_db), least);
    if (!in_) {
        recent_.insert(recent_.end(), cur_.begin(), cur_.end());
        size_t keep = (preroll_ + onset_) * frame_;
        while (recent_.size() > keep) recent_.pop_front();
        run_ = speech ? run_ + 1 : 0;
        if (run_ < onset_) return;
        in_ = true;
        quiet_ = 0;
        last_speech_ = pos_;
        sink.Start(pos_ - (int64_t)(run_ * frame_));
        std::vector<int16_t> audio(recent_.begin(), recent_.end());
        recent_.clear();
        sink.Audio(audio.data(), audio.size());
        length_ = audio.size();
        return;
    }
    sink.Audio(cur_.data(), cur_.size());
    length_ += cur_.size();
    if (speech) {
        quiet_ = 0;
        last_speech_ = pos_;
    } else {
        quiet_++;
    }
    if (quiet_ >= hangover_ || length_ >= max_) {
        bool forced = quiet_ < hangover_;
        in_ = false;
        run_ = 0;
        sink.End(forced ? pos_ : last_speech_, forced);
    }
}

void Segmenter::Flush(SegmentSink& sink)
{
    if (!in_) return;
    if (!cur_.empty()) sink.Audio(cur_.data(), cur_.size());
    cur_.clear();
    in_ = false;
    run_ = 0;
    sink.End(quiet_ == 0 ? pos_ : last_speech_, false);
}

} // namespace ksspeech
