// dereverb.h: taking a room's late reverberation out of a recording. Needs
// no audio library, so the tests reach it without one.
#ifndef KSBNFC_SPEECH_DEREVERB_H
#define KSBNFC_SPEECH_DEREVERB_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ksspeech {

// A room's echo of a sound arrives over the following half second, and in
// each frequency band it can be predicted from the band's past: Dereverb
// takes from each band of each 32 ms frame (every 8 ms) what a linear
// filter on the frames kDereverbDelay to kDereverbDelay + kDereverbTaps - 1
// before it predicts, the filter fitted to the recording by weighted least
// squares, each frame weighted by the inverse of its power as far as it
// is known (the recording's own, then the first pass's result: two
// passes). The delay spares the sound itself and its first reflections,
// which the acoustic model heard in training too. Speech with no room in
// it has little to predict and is left much as it was. A recording is done
// in pieces of at most kDereverbPiece samples, to bound the memory.
constexpr int kDereverbTaps = 10, kDereverbDelay = 2, kDereverbPasses = 2;
constexpr size_t kDereverbPiece = 30 * 16000;
void Dereverb(std::vector<int16_t>& samples);

} // namespace ksspeech

#endif // KSBNFC_SPEECH_DEREVERB_H
