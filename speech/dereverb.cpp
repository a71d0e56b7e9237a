// dereverb.cpp: Dereverb, by delayed linear prediction in each frequency
// band of a short-time spectrum.
#include "dereverb.h"

#include "fft.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace ksspeech {

namespace {

using Complex = std::complex<double>;
const size_t kFrame = 512, kHop = 128, kBins = kFrame / 2 + 1;

// Solves the n x n system a x = b (a Hermitian, positive) by elimination
// with partial pivoting; a 0 where a pivot vanishes.
std::vector<Complex> Solve(std::vector<Complex> a, std::vector<Complex> b, int n)
{
    for (int c = 0; c < n; c++) {
        int p = c;
        for (int r = c + 1; r < n; r++)
            if (std::abs(a[(size_t)r * n + c]) > std::abs(a[(size_t)p * n + c])) p = r;
        if (p != c) {
            for (int k = 0; k < n; k++) std::swap(a[(size_t)c * n + k], a[(size_t)p * n + k]);
            std::swap(b[(size_t)c], b[(size_t)p]);
        }
        Complex d = a[(size_t)c * n + c];
        if (std::abs(d) < 1e-30) continue;
        for (int r = c + 1; r < n; r++) {
            Complex f = a[(size_t)r * n + c] / d;
            for (int k = c; k < n; k++) a[(size_t)r * n + k] -= f * a[(size_t)c * n + k];
            b[(size_t)r] -= f * b[(size_t)c];
        }
    }
    std::vector<Complex> x((size_t)n);
    for (int c = n - 1; c >= 0; c--) {
        Complex s = b[(size_t)c];
        for (int k = c + 1; k < n; k++) s -= a[(size_t)c * n + k] * x[(size_t)k];
        Complex d = a[(size_t)c * n + c];
        x[(size_t)c] = std::abs(d) < 1e-30 ? Complex(0) : s / d;
    }
    return x;
}

// One band's frames x, their prediction from the delayed past taken out.
void DereverbBand(std::vector<Complex>& x)
{
    const int K = kDereverbTaps, D = kDereverbDelay;
    const size_t T = x.size();
    if (T <= (size_t)(D + K)) return;
    std::vector<Complex> y = x;
    std::vector<double> rr((size_t)K * K), ri((size_t)K * K), pr((size_t)K), pi((size_t)K);
    for (int pass = 0; pass < kDereverbPasses; pass++) {
        std::fill(rr.begin(), rr.end(), 0);
        std::fill(ri.begin(), ri.end(), 0);
        std::fill(pr.begin(), pr.end(), 0);
        std::fill(pi.begin(), pi.end(), 0);
        // The weighted correlations of the past (upper triangle: the matrix
        // is Hermitian) and of the past with the present, in plain
        // arithmetic: std::complex's product checks for infinities.
        for (size_t t = (size_t)(D + K); t < T; t++) {
            double w = 1 / std::max(std::norm(y[t]), 1e-3);
            double xr[kDereverbTaps], xi[kDereverbTaps];
            for (int j = 0; j < K; j++) {
                xr[j] = x[t - (size_t)(D + j)].real();
                xi[j] = x[t - (size_t)(D + j)].imag();
            }
            double yr = x[t].real(), yi = x[t].imag();
            for (int i = 0; i < K; i++) {
                double ar = xr[i] * w, ai = xi[i] * w;
                for (int j = i; j < K; j++) {
                    rr[(size_t)i * K + j] += ar * xr[j] + ai * xi[j];
                    ri[(size_t)i * K + j] += ai * xr[j] - ar * xi[j];
                }
                pr[(size_t)i] += ar * yr + ai * yi;
                pi[(size_t)i] += ai * yr - ar * yi;
            }
        }
        std::vector<Complex> a((size_t)K * K), b((size_t)K);
        double trace = 0;
        for (int i = 0; i < K; i++) trace += rr[(size_t)i * K + i];
        for (int i = 0; i < K; i++) {
            b[(size_t)i] = Complex(pr[(size_t)i], pi[(size_t)i]);
            for (int j = i; j < K; j++) {
                a[(size_t)i * K + j] = Complex(rr[(size_t)i * K + j], ri[(size_t)i * K + j]);
                a[(size_t)j * K + i] = std::conj(a[(size_t)i * K + j]);
            }
            // A little loading keeps a silent or pure band solvable.
            a[(size_t)i * K + i] += 1e-6 * trace / K + 1e-12;
        }
        std::vector<Complex> g = Solve(a, b, K);
        for (size_t t = 0; t < T; t++) {
            Complex predicted = 0;
            for (int j = 0; j < K && t >= (size_t)(D + j); j++) predicted += std::conj(g[(size_t)j]) * x[t - (size_t)(D + j)];
            y[t] = x[t] - predicted;
        }
    }
    x.swap(y);
}

void DereverbPiece(int16_t* samples, size_t n)
{
    if (n < 4 * kFrame) return;
    // Square-root Hann windows for analysis and synthesis: at a quarter
    // frame's hop their products add up to 2.
    std::vector<double> window = Hann(kFrame);
    for (double& w : window) w = std::sqrt(w);
    // Frame t covers samples t * kHop - kFrame .. t * kHop - 1, so that every
    // sample is covered by four frames.
    const size_t frames = (n + kFrame) / kHop;
    std::vector<Complex> spectrum(frames * kBins), a(kFrame);
    for (size_t t = 0; t < frames; t++) {
        for (size_t i = 0; i < kFrame; i++) {
            size_t s = t * kHop + i;
            a[i] = s >= kFrame && s - kFrame < n ? samples[s - kFrame] * window[i] : 0.0;
        }
        Fft(a);
        std::copy(a.begin(), a.begin() + kBins, spectrum.begin() + (std::ptrdiff_t)(t * kBins));
    }
    std::vector<Complex> band(frames);
    for (size_t k = 0; k < kBins; k++) {
        for (size_t t = 0; t < frames; t++) band[t] = spectrum[t * kBins + k];
        DereverbBand(band);
        for (size_t t = 0; t < frames; t++) spectrum[t * kBins + k] = band[t];
    }
    std::vector<double> out(n + 2 * kFrame, 0);
    for (size_t t = 0; t < frames; t++) {
        std::copy(spectrum.begin() + (std::ptrdiff_t)(t * kBins), spectrum.begin() + (std::ptrdiff_t)((t + 1) * kBins),
                  a.begin());
        for (size_t k = kBins; k < kFrame; k++) a[k] = std::conj(a[kFrame - k]);
        Fft(a, true);
        for (size_t i = 0; i < kFrame; i++) out[t * kHop + i] += a[i].real() / kFrame * window[i];
    }
    for (size_t i = 0; i < n; i++)
        samples[i] = (int16_t)std::max(-32768.0, std::min(32767.0, std::round(out[i + kFrame] / 2)));
}

} // namespace

void Dereverb(std::vector<int16_t>& samples)
{
    for (size_t at = 0; at < samples.size(); at += kDereverbPiece)
        DereverbPiece(samples.data() + at, std::min(kDereverbPiece, samples.size() - at));
}

} // namespace ksspeech
