// cepstra.cpp: the cepstral spread restoration of cepstra.h.
#include "cepstra.h"

#include <algorithm>
#include <cmath>

namespace ksspeech {
namespace {

std::vector<double> Deviations(const float* cep, size_t frames, int width, const std::vector<double>& mean)
{
    std::vector<double> sd((size_t)width, 0.0);
    if (frames < 2) return sd;
    for (size_t f = 0; f < frames; f++)
        for (size_t d = 0; d < (size_t)width; d++) {
            double x = cep[f * (size_t)width + d] - mean[d];
            sd[d] += x * x;
        }
    for (double& v : sd) v = std::sqrt(v / (double)frames);
    return sd;
}

} // namespace

std::vector<double> Means(const float* cep, size_t frames, int width)
{
    std::vector<double> mean((size_t)width, 0.0);
    for (size_t f = 0; f < frames; f++)
        for (size_t d = 0; d < (size_t)width; d++) mean[d] += cep[f * (size_t)width + d];
    if (frames)
        for (double& m : mean) m /= (double)frames;
    return mean;
}

std::vector<double> Deviations(const float* cep, size_t frames, int width)
{
    return Deviations(cep, frames, width, Means(cep, frames, width));
}

std::vector<double> RestoreSpread(float* cep, size_t frames, int width, const std::vector<double>& target,
                                  double max_gain)
{
    size_t dims = std::min(target.size(), (size_t)std::max(width, 0));
    std::vector<double> gain(dims, 1.0);
    if (frames < 2 || dims == 0) return gain;
    std::vector<double> mean = Means(cep, frames, width);
    std::vector<double> sd = Deviations(cep, frames, width, mean);
    for (size_t d = 0; d < dims; d++) {
        // A constant dimension (digital silence) has no spread to restore.
        if (!(sd[d] > 1e-6)) continue;
        gain[d] = std::clamp(target[d] / sd[d], 1.0, std::max(max_gain, 1.0));
        if (gain[d] == 1.0) continue;
        for (size_t f = 0; f < frames; f++) {
            float& x = cep[f * (size_t)width + d];
            x = (float)(mean[d] + (x - mean[d]) * gain[d]);
        }
    }
    return gain;
}

} // namespace ksspeech
