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

Segmenter::Segmenter(const SegmenterOptions& o) : o_(o)
{
    frame_ = (size_t)std::max(1, o_.rate * o_.frame_ms / 1000);
    auto frames = [&](int ms) { return (size_t)std::max(1, ms / std::max(1, o_.frame_ms)); };
    onset_ = frames(o_.onset_ms);
    hangover_ = frames(o_.hangover_ms);
    preroll_ = (size_t)std::max(0, o_.preroll_ms / std::max(1, o_.frame_ms));
    max_ = frames(o_.max_ms) * frame_;
    floor_frames_ = frames(o_.floor_ms);
    block_ = std::max<size_t>(1, floor_frames_ / kFloorBlocks);
    level_block_ = std::max<size_t>(1, frames(o_.level_ms) / kFloorBlocks);
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

    block_low_ = std::min(block_low_, e);
    if (++block_fill_ == block_) {
        block_min_.push_back(block_low_);
        if (block_min_.size() > kFloorBlocks) block_min_.pop_front();
        block_low_ = 1e9;
        block_fill_ = 0;
    }
    floor_ = block_low_;
    for (double b : block_min_) floor_ = std::min(floor_, b);

    level_high_ = std::max(level_high_, e);
    double loudest = level_high_;
    for (double b : level_max_) loudest = std::max(loudest, b);
    if (++level_fill_ == level_block_) {
        level_max_.push_back(level_high_);
        if (level_max_.size() > kFloorBlocks) level_max_.pop_front();
        level_high_ = -1e9;
        level_fill_ = 0;
    }

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
