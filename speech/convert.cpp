// convert.cpp: AppendMono16 and Resample, byte by byte so that the host's
// byte order does not matter.
#include "convert.h"

#include <algorithm>
#include <cmath>

namespace ksspeech {

std::string Unsupported(const PcmFormat& f)
{
    if (f.width < 1 || f.width > 4) return "samples of " + std::to_string(f.width) + " bytes (1 to 4 are taken)";
    if (f.channels < 1 || f.channels > 16) return std::to_string(f.channels) + " channels (1 to 16 are taken)";
    if (f.rate < 4000 || f.rate > 48000) return "a rate of " + std::to_string(f.rate) + " Hz (4000 to 48000 are taken)";
    return "";
}

bool AppendMono16(const std::string& bytes, const PcmFormat& f, std::vector<int16_t>& out)
{
    size_t frame = (size_t)f.width * (size_t)f.channels;
    if (bytes.size() % frame) return false;
    const unsigned char* p = (const unsigned char*)bytes.data();
    out.reserve(out.size() + bytes.size() / frame);
    for (size_t at = 0; at < bytes.size(); at += frame) {
        int64_t sum = 0;
        for (int c = 0; c < f.channels; c++) {
            const unsigned char* s = p + at + (size_t)c * (size_t)f.width;
            int32_t v; // the sample scaled to 16 bits
            switch (f.width) {
            case 1: v = ((int32_t)s[0] - 128) * 256; break;
            case 2: v = (int16_t)(uint16_t)(s[0] | s[1] << 8); break;
            case 3: v = (int32_t)((uint32_t)s[0] << 8 | (uint32_t)s[1] << 16 | (uint32_t)s[2] << 24) >> 16; break;
            default: v = (int32_t)((uint32_t)s[0] | (uint32_t)s[1] << 8 | (uint32_t)s[2] << 16 | (uint32_t)s[3] << 24) >> 16; break;
            }
            sum += v;
        }
        out.push_back((int16_t)(sum / f.channels));
    }
    return true;
}

std::vector<int16_t> Resample(const std::vector<int16_t>& in, int from, int to)
{
    if (from == to || in.empty()) return in;
    double step = (double)from / to;
    std::vector<double> x(in.begin(), in.end());
    if (step > 1) {
        // A moving average over one output step keeps most of what folds
        // back below the new Nyquist rate out.
        size_t w = (size_t)std::ceil(step);
        std::vector<double> avg(x.size());
        double sum = 0;
        for (size_t i = 0; i < x.size(); i++) {
            sum += x[i];
            if (i >= w) sum -= x[i - w];
            avg[i] = sum / (double)std::min(i + 1, w);
        }
        // The average lags by half its width.
        for (size_t i = 0; i < x.size(); i++) x[i] = avg[std::min(x.size() - 1, i + w / 2)];
    }
    size_t n = (size_t)((double)in.size() / step);
    std::vector<int16_t> out(n);
    for (size_t i = 0; i < n; i++) {
        double t = (double)i * step;
        size_t k = (size_t)t;
        double frac = t - (double)k;
        double a = x[std::min(k, x.size() - 1)], b = x[std::min(k + 1, x.size() - 1)];
        double v = std::round(a + (b - a) * frac);
        out[i] = (int16_t)std::max(-32768.0, std::min(32767.0, v));
    }
    return out;
}

} // namespace ksspeech
