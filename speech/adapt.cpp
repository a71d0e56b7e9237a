// adapt.cpp: the per-recording cepstral transform of adapt.h.
#include "adapt.h"

#include "audio.h"
#include "cepstra.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace ksspeech {
namespace {

constexpr double kVarianceFloor = 1e-4; // the recogniser's own floor
constexpr int kWindow = 3;              // frames a second delta reaches either side

uint32_t Word32(const unsigned char* p, bool swap)
{
    uint32_t v = (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
    return swap ? (v >> 24 | (v >> 8 & 0xff00) | (v << 8 & 0xff0000) | v << 24) : v;
}

// One Gaussian parameter file: a text header closed by "endhdr\n", a byte
// order mark, the codebook, stream and density counts, each stream's width,
// the value count and the values, in the writer's byte order.
struct ParameterFile {
    uint32_t codebooks = 0, streams = 0, densities = 0;
    std::vector<uint32_t> widths;
    std::vector<float> values;
};

ParameterFile ReadParameters(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw SpeechError("cannot open the acoustic model's '" + path + "'");
    std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto bad = [&](const char* what) { return SpeechError("the acoustic model's '" + path + "' is " + what); };
    static const char kEnd[] = "endhdr\n";
    auto end = std::search(data.begin(), data.end(), kEnd, kEnd + 7);
    if (data.size() < 3 || std::memcmp(data.data(), "s3\n", 3) != 0 || end == data.end())
        throw bad("not a Gaussian parameter file");
    size_t at = (size_t)(end - data.begin()) + 7;
    bool swap = false;
    auto next = [&]() {
        if (data.size() - at < 4) throw bad("truncated");
        uint32_t v = Word32(&data[at], swap);
        at += 4;
        return v;
    };
    uint32_t mark = next();
    if (mark != 0x11223344u) {
        swap = true;
        if (Word32(&data[at - 4], true) != 0x11223344u) throw bad("in an unknown byte order");
    }
    ParameterFile f;
    f.codebooks = next();
    f.streams = next();
    f.densities = next();
    if (f.codebooks == 0 || f.streams == 0 || f.streams > 8 || f.densities == 0 || f.densities > 4096 ||
        f.codebooks > 100000)
        throw bad("inconsistent");
    uint64_t per_density = 0;
    for (uint32_t s = 0; s < f.streams; s++) {
        f.widths.push_back(next());
        if (f.widths.back() == 0 || f.widths.back() > 256) throw bad("inconsistent");
        per_density += f.widths.back();
    }
    uint64_t total = next();
    if (total != (uint64_t)f.codebooks * f.densities * per_density || total > (data.size() - at) / 4)
        throw bad("inconsistent or truncated");
    f.values.resize((size_t)total);
    for (size_t i = 0; i < f.values.size(); i++) {
        uint32_t v = next();
        std::memcpy(&f.values[i], &v, 4);
    }
    return f;
}

// The statics with the recording's mean taken out (the model was trained on
// mean-normalised cepstra), then the deltas and second deltas the
// recogniser computes from them, with the first and last frames repeated.
std::vector<float> Streams(const float* cep, size_t frames, int width, const std::vector<double>& mean)
{
    size_t w = (size_t)width;
    auto c = [&](ptrdiff_t t, size_t d) {
        t = std::clamp<ptrdiff_t>(t, 0, (ptrdiff_t)frames - 1);
        return (float)(cep[(size_t)t * w + d] - mean[d]);
    };
    std::vector<float> out(frames * 3 * w);
    for (size_t t = 0; t < frames; t++) {
        float* o = &out[t * 3 * w];
        ptrdiff_t i = (ptrdiff_t)t;
        for (size_t d = 0; d < w; d++) {
            o[d] = c(i, d);
            o[w + d] = c(i + 2, d) - c(i - 2, d);
            o[2 * w + d] = (c(i + 3, d) - c(i - 1, d)) - (c(i + 1, d) - c(i - 3, d));
        }
    }
    return out;
}

// Determinant and inverse of the n x n matrix m (row-major) by Gauss-Jordan
// elimination with partial pivoting; false when it is singular.
bool Invert(std::vector<double> m, int n, std::vector<double>& inv, double& det)
{
    inv.assign((size_t)n * n, 0.0);
    for (int i = 0; i < n; i++) inv[(size_t)i * n + i] = 1;
    det = 1;
    for (int col = 0; col < n; col++) {
        int pivot = col;
        for (int r = col + 1; r < n; r++)
            if (std::fabs(m[(size_t)r * n + col]) > std::fabs(m[(size_t)pivot * n + col])) pivot = r;
        double p = m[(size_t)pivot * n + col];
        if (!(std::fabs(p) > 1e-300)) return false;
        if (pivot != col) {
            for (int k = 0; k < n; k++) {
                std::swap(m[(size_t)pivot * n + k], m[(size_t)col * n + k]);
                std::swap(inv[(size_t)pivot * n + k], inv[(size_t)col * n + k]);
            }
            det = -det;
        }
        det *= p;
        for (int k = 0; k < n; k++) {
            m[(size_t)col * n + k] /= p;
            inv[(size_t)col * n + k] /= p;
        }
        for (int r = 0; r < n; r++) {
            if (r == col) continue;
            double f = m[(size_t)r * n + col];
            if (f == 0) continue;
            for (int k = 0; k < n; k++) {
                m[(size_t)r * n + k] -= f * m[(size_t)col * n + k];
                inv[(size_t)r * n + k] -= f * inv[(size_t)col * n + k];
            }
        }
    }
    return true;
}

// The sufficient statistics of the fit: for each row i of A, G[i] (width x
// width) and k[i] (width), and beta, the posterior mass.
struct Statistics {
    std::vector<std::vector<double>> g, k;
    double beta = 0;
};

// Each frame's posteriors over the Gaussians come from `scored` (the
// cepstra as the current transform leaves them); the statistics are of
// `raw`, the cepstra the transform applies to.
Statistics Accumulate(const std::vector<float>& scored, const std::vector<float>& raw, size_t frames,
                      const Codebooks& b, int top)
{
    size_t w = (size_t)b.dims, n = b.count;
    Statistics st;
    st.g.assign(w, std::vector<double>(w * w, 0.0));
    st.k.assign(w, std::vector<double>(w, 0.0));
    std::vector<float> score(n);
    std::vector<size_t> order(n);
    std::vector<double> weight(w), target(w);
    top = std::clamp(top, 1, (int)n);
    for (size_t t = 0; t < frames; t++)
        for (int s = 0; s < b.streams; s++) {
            const float* v = &scored[(t * (size_t)b.streams + (size_t)s) * w];
            std::copy(&b.norm[(size_t)s * n], &b.norm[(size_t)s * n] + n, score.begin());
            for (size_t d = 0; d < w; d++) {
                const float* mu = &b.mean[((size_t)s * w + d) * n];
                const float* iv = &b.ivar[((size_t)s * w + d) * n];
                float xd = v[d];
                for (size_t g = 0; g < n; g++) {
                    float e = xd - mu[g];
                    score[g] -= 0.5f * e * e * iv[g];
                }
            }
            for (size_t g = 0; g < n; g++) order[g] = g;
            std::partial_sort(order.begin(), order.begin() + top, order.end(),
                              [&](size_t a, size_t c) { return score[a] > score[c]; });
            double best = score[order[0]], sum = 0;
            for (int j = 0; j < top; j++) sum += std::exp(score[order[(size_t)j]] - best);
            std::fill(weight.begin(), weight.end(), 0.0);
            std::fill(target.begin(), target.end(), 0.0);
            for (int j = 0; j < top; j++) {
                size_t g = order[(size_t)j];
                double post = std::exp(score[g] - best) / sum;
                for (size_t d = 0; d < w; d++) {
                    double iv = b.ivar[((size_t)s * w + d) * n + g];
                    weight[d] += post * iv;
                    target[d] += post * iv * b.mean[((size_t)s * w + d) * n + g];
                }
            }
            v = &raw[(t * (size_t)b.streams + (size_t)s) * w];
            for (size_t i = 0; i < w; i++) {
                std::vector<double>& gi = st.g[i];
                for (size_t r = 0; r < w; r++) {
                    double wr = weight[i] * v[r];
                    for (size_t c = 0; c < w; c++) gi[r * w + c] += wr * v[c];
                    st.k[i][r] += target[i] * v[r];
                }
            }
            st.beta += 1;
        }
    return st;
}

// One sweep of row updates of A, each the exact maximum of the objective
// with the other rows held.
void UpdateRows(std::vector<double>& a, const Statistics& st, int w)
{
    for (int i = 0; i < w; i++) {
        const std::vector<double>& g = st.g[(size_t)i];
        const std::vector<double>& k = st.k[(size_t)i];
        std::vector<double> ainv, ginv;
        double det = 0, gdet = 0;
        if (!Invert(a, w, ainv, det) || !Invert(g, w, ginv, gdet)) continue;
        // The cofactors of row i: det(A) times column i of A's inverse.
        std::vector<double> p((size_t)w), gp((size_t)w, 0.0), gk((size_t)w, 0.0);
        for (int c = 0; c < w; c++) p[(size_t)c] = det * ainv[(size_t)c * w + i];
        for (int r = 0; r < w; r++)
            for (int c = 0; c < w; c++) {
                gp[(size_t)r] += ginv[(size_t)r * w + c] * p[(size_t)c];
                gk[(size_t)r] += ginv[(size_t)r * w + c] * k[(size_t)c];
            }
        double e1 = 0, e2 = 0;
        for (int c = 0; c < w; c++) {
            e1 += p[(size_t)c] * gp[(size_t)c];
            e2 += p[(size_t)c] * gk[(size_t)c];
        }
        if (!(e1 > 0)) continue;
        // Of the two roots, the one that keeps det(A) positive: the other
        // mirrors the cepstra, which is never wanted, and ties with this one
        // where the Gaussians are symmetric about the mean.
        double alpha = (-e2 + std::sqrt(e2 * e2 + 4 * e1 * st.beta)) / (2 * e1);
        for (int c = 0; c < w; c++) a[(size_t)i * w + c] = alpha * gp[(size_t)c] + gk[(size_t)c];
    }
}

// out = A u, plus offset where one is given; u holds mean-free values.
template <typename T>
void Multiply(const std::vector<double>& a, size_t w, const T* u, const double* offset, float* out)
{
    for (size_t r = 0; r < w; r++) {
        double sum = offset ? offset[r] : 0.0;
        for (size_t c = 0; c < w; c++) sum += a[r * w + c] * u[c];
        out[r] = (float)sum;
    }
}

} // namespace

Codebooks ReadCodebooks(const std::string& model)
{
    ParameterFile means = ReadParameters(model + "/means");
    ParameterFile vars = ReadParameters(model + "/variances");
    if (means.codebooks != vars.codebooks || means.streams != vars.streams || means.densities != vars.densities ||
        means.widths != vars.widths)
        throw SpeechError("the acoustic model's means and variances in '" + model + "' do not match");
    Codebooks b;
    if (means.streams != 3 || means.widths[0] != means.widths[1] || means.widths[0] != means.widths[2]) return b;
    size_t w = means.widths[0], n = (size_t)means.codebooks * means.densities;
    b.dims = (int)w;
    b.streams = 3;
    b.count = n;
    b.mean.resize(3 * w * n);
    b.ivar.resize(3 * w * n);
    b.norm.assign(3 * n, 0.0f);
    // The files hold [codebook][stream][density][dim].
    for (size_t cb = 0; cb < means.codebooks; cb++)
        for (size_t s = 0; s < 3; s++)
            for (size_t j = 0; j < means.densities; j++) {
                size_t g = cb * means.densities + j;
                size_t from = ((cb * 3 + s) * means.densities + j) * w;
                double lognorm = 0;
                for (size_t d = 0; d < w; d++) {
                    double var = std::max((double)vars.values[from + d], kVarianceFloor);
                    b.mean[(s * w + d) * n + g] = means.values[from + d];
                    b.ivar[(s * w + d) * n + g] = (float)(1 / var);
                    lognorm -= 0.5 * std::log(2 * M_PI * var);
                }
                b.norm[s * n + g] = (float)lognorm;
            }
    return b;
}

std::vector<double> FitTransform(const float* cep, size_t frames, int width, const Codebooks& books,
                                 const AdaptOptions& options)
{
    size_t w = (size_t)std::max(width, 0);
    std::vector<double> a(w * w, 0.0);
    for (size_t i = 0; i < w; i++) a[i * w + i] = 1;
    if (books.Empty() || books.dims != width || frames < 2 * kWindow + 1) return a;
    std::vector<double> mean = Means(cep, frames, width);
    std::vector<float> x0 = Streams(cep, frames, width, mean);
    for (int it = 0; it < std::max(options.iterations, 1); it++) {
        // The posteriors come from the cepstra as the current A leaves them.
        std::vector<float> x = x0;
        for (size_t t = 0; t < frames * 3; t++) Multiply(a, w, &x0[t * w], nullptr, &x[t * w]);
        Statistics st = Accumulate(x, x0, frames, books, options.top);
        if (options.prior > 0) {
            // Evidence for the identity: a row i whose best value is e_i.
            for (size_t i = 0; i < w; i++) {
                double scale = options.prior * st.g[i][i * w + i] / st.beta;
                for (size_t d = 0; d < w; d++) st.g[i][d * w + d] += scale;
                st.k[i][i] += scale;
            }
        }
        for (int sweep = 0; sweep < 3; sweep++) UpdateRows(a, st, width);
    }
    return a;
}

void ApplyTransform(float* cep, size_t frames, int width, const std::vector<double>& a)
{
    size_t w = (size_t)std::max(width, 0);
    if (a.size() != w * w || frames == 0) return;
    std::vector<double> mean = Means(cep, frames, width), in(w);
    for (size_t t = 0; t < frames; t++) {
        float* v = &cep[t * w];
        for (size_t d = 0; d < w; d++) in[d] = v[d] - mean[d];
        Multiply(a, w, in.data(), mean.data(), v);
    }
}

} // namespace ksspeech
