// quality.cpp: ClippedShare, HighBandDb and AudioWarnings.
#include "quality.h"

#include "fft.h"
#include "snr.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>

namespace ksspeech {

double ClippedShare(const int16_t* samples, size_t n)
{
    int peak = 0;
    for (size_t i = 0; i < n; i++) peak = std::max(peak, Magnitude(samples[i]));
    if (peak < 32768 / 8) return 0;
    // A converter's limit may sit one step inside full scale.
    auto flat = [&](size_t i) { return Magnitude(samples[i]) >= peak - 1; };
    size_t clipped = 0;
    for (size_t i = 0; i < n;) {
        size_t j = i;
        while (j < n && flat(j)) j++;
        if (j - i >= 3) clipped += j - i;
        i = j > i ? j : i + 1;
    }
    return (double)clipped / (double)n;
}

double HighBandDb(const int16_t* samples, size_t n, int rate)
{
    const size_t frame = 512;
    if (rate < 14000 || n < 10 * frame) return 0;
    std::vector<std::pair<double, size_t>> loud; // energy, start
    for (size_t i = 0; i + frame <= n; i += frame) loud.emplace_back(FrameEnergyDb(samples + i, frame), i);
    std::sort(loud.begin(), loud.end(), [](const auto& x, const auto& y) { return x.first > y.first; });
    loud.resize(std::max<size_t>(loud.size() / 5, 2));
    const std::vector<double> window = Hann(frame);
    std::vector<double> power(frame / 2 + 1, 0);
    std::vector<std::complex<double>> a(frame);
    for (const auto& f : loud) {
        for (size_t k = 0; k < frame; k++) a[k] = samples[f.second + k] * window[k];
        Fft(a);
        for (size_t k = 0; k < power.size(); k++) power[k] += std::norm(a[k]);
    }
    auto band = [&](double lo, double hi) {
        size_t a0 = (size_t)std::ceil(lo * frame / rate), a1 = (size_t)std::floor(hi * frame / rate);
        double sum = 0;
        for (size_t k = a0; k <= a1 && k < power.size(); k++) sum += power[k];
        return sum / (double)(a1 - a0 + 1);
    };
    double low = band(300, 3400), high = band(4300, 7000);
    if (low <= 0) return 0;
    return 10 * std::log10((high + 1e-3) / low);
}

std::vector<std::string> AudioWarnings(const int16_t* samples, size_t n, int rate)
{
    std::vector<std::string> out;
    char buf[200];
    double clipped = ClippedShare(samples, n);
    if (clipped > kClippedWarn) {
        std::snprintf(buf, sizeof buf,
                      "%.1f%% of the samples are clipped: lower the microphone's input gain", 100 * clipped);
        out.push_back(buf);
    }
    if (HighBandDb(samples, n, rate) < kNarrowBand)
        out.push_back("no sound above 4 kHz, as through a telephone or a headset's 8 kHz link: "
                      "a microphone recording at 16 kHz is heard better");
    return out;
}

} // namespace ksspeech
