// adapt.cpp: the per-recording cepstral transform of adapt.h.
#include "adapt.h"

#include "audio.h"
#include "cepstra.h"
#include "pronounce.h"

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

// The log-likelihoods of v, the values of stream s, under the Gaussians lo
// to hi of that stream, into score[0 .. hi - lo).
void Score(const float* v, size_t s, size_t lo, size_t hi, const Codebooks& b, float* score)
{
    size_t w = (size_t)b.dims, n = b.count;
    const float* norm = b.norm.data() + s * n;
    std::copy(norm + lo, norm + hi, score);
    for (size_t d = 0; d < w; d++) {
        const float* mu = &b.mean[(s * w + d) * n];
        const float* iv = &b.ivar[(s * w + d) * n];
        float xd = v[d];
        for (size_t g = lo; g < hi; g++) {
            float e = xd - mu[g];
            score[g - lo] -= 0.5f * e * e * iv[g];
        }
    }
}

// Each frame's posteriors over the Gaussians (those of its codebook, with
// labels) come from `scored` (the cepstra as the current transform leaves
// them); the statistics are of `raw`, the cepstra the transform applies to.
Statistics Accumulate(const std::vector<float>& scored, const std::vector<float>& raw, size_t frames,
                      const Codebooks& b, int top, const std::vector<int>& labels)
{
    size_t w = (size_t)b.dims, n = b.count;
    Statistics st;
    st.g.assign(w, std::vector<double>(w * w, 0.0));
    st.k.assign(w, std::vector<double>(w, 0.0));
    std::vector<float> score(n);
    std::vector<size_t> order(n);
    std::vector<double> weight(w), target(w);
    for (size_t t = 0; t < frames; t++) {
        size_t lo = 0, hi = n;
        if (t < labels.size() && labels[t] >= 0 && b.densities > 0 && (size_t)labels[t] < n / b.densities) {
            lo = (size_t)labels[t] * b.densities;
            hi = lo + b.densities;
        }
        size_t m = hi - lo, keep = (size_t)std::clamp(top, 1, (int)m);
        for (int s = 0; s < b.streams; s++) {
            const float* v = &scored[(t * (size_t)b.streams + (size_t)s) * w];
            Score(v, (size_t)s, lo, hi, b, score.data());
            for (size_t g = 0; g < m; g++) order[g] = g;
            std::partial_sort(order.begin(), order.begin() + (ptrdiff_t)keep, order.begin() + (ptrdiff_t)m,
                              [&](size_t a, size_t c) { return score[a] > score[c]; });
            double best = score[order[0]], sum = 0;
            for (size_t j = 0; j < keep; j++) sum += std::exp(score[order[j]] - best);
            std::fill(weight.begin(), weight.end(), 0.0);
            std::fill(target.begin(), target.end(), 0.0);
            for (size_t j = 0; j < keep; j++) {
                size_t g = lo + order[j];
                double post = std::exp(score[order[j]] - best) / sum;
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
    b.densities = means.densities;
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

std::vector<std::string> ReadPhones(const std::string& model)
{
    std::string path = model + "/mdef";
    std::ifstream in(path, std::ios::binary);
    if (!in) throw SpeechError("cannot open the acoustic model's '" + path + "'");
    std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> phones;
    if (data.size() >= 4 && (std::memcmp(data.data(), "BMDF", 4) == 0 || std::memcmp(data.data(), "FDMB", 4) == 0)) {
        // The binary layout: the mark, a version, a description's length and
        // the description, ten counts of which the first is the base
        // phones', then their names, each closed by a NUL.
        bool swap = data[0] == 'F';
        auto truncated = [&] { return SpeechError("the acoustic model's '" + path + "' is truncated"); };
        if (data.size() < 12) throw truncated();
        uint64_t at = 12 + (uint64_t)Word32(&data[8], swap);
        if (at + 40 > data.size()) throw truncated();
        uint32_t count = Word32(&data[(size_t)at], swap);
        at += 40;
        if (count == 0 || count > 1000) return phones;
        while (phones.size() < count) {
            auto end = std::find(data.begin() + (ptrdiff_t)at, data.end(), 0);
            if (end == data.end()) throw truncated();
            phones.emplace_back(data.begin() + (ptrdiff_t)at, end);
            at = (uint64_t)(end - data.begin()) + 1;
        }
        return phones;
    }
    // The text layout: a base phone's line has "-" for both neighbours and
    // the position, and the base phones come first.
    std::string text(data.begin(), data.end());
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::vector<std::string> fields = Split(text.substr(at, end - at));
        at = end + 1;
        if (fields.empty() || fields[0][0] == '#' || fields.size() < 6) continue;
        if (fields[1] != "-" || fields[2] != "-" || fields[3] != "-") break;
        phones.push_back(fields[0]);
    }
    return phones;
}

std::vector<int> AlignPhones(const float* cep, size_t frames, int width, const Codebooks& b,
                             const std::vector<Stretch>& words, int rest, int states)
{
    if (b.Empty() || b.dims != width || b.densities == 0 || frames < 2 * kWindow + 1)
        return std::vector<int>(frames, -1);
    std::vector<int> labels(frames, rest);
    size_t w = (size_t)width, per_book = b.densities, books = b.count / per_book;
    std::vector<double> mean = Means(cep, frames, width);
    std::vector<float> x = Streams(cep, frames, width, mean), score(per_book);
    // Frame t's log-likelihood under codebook c, its Gaussians taken as
    // equally likely in each stream.
    auto likelihood = [&](size_t t, size_t c) {
        double sum = 0;
        for (int s = 0; s < b.streams; s++) {
            Score(&x[(t * (size_t)b.streams + (size_t)s) * w], (size_t)s, c * per_book, (c + 1) * per_book, b,
                  score.data());
            float best = *std::max_element(score.begin(), score.end());
            double e = 0;
            for (float v : score) e += std::exp((double)v - best);
            sum += best + std::log(e / (double)per_book);
        }
        return sum;
    };
    for (const Stretch& word : words) {
        if (word.first > word.last || word.first >= frames) continue;
        size_t first = word.first, last = std::min(word.last, frames - 1), len = last - first + 1;
        size_t k = word.phones.size();
        bool known = k > 0 && std::all_of(word.phones.begin(), word.phones.end(),
                                          [&](int p) { return p >= 0 && (size_t)p < books; });
        if (!known || len < k) {
            std::fill(labels.begin() + (ptrdiff_t)first, labels.begin() + (ptrdiff_t)last + 1, -1);
            continue;
        }
        // Each phone is `per` states of at least a frame each, passed left
        // to right; ll[t][j] is frame first + t under phone j.
        size_t per = len >= k * (size_t)std::max(states, 1) ? (size_t)std::max(states, 1) : 1, n = k * per;
        std::vector<double> ll(len * k);
        for (size_t t = 0; t < len; t++)
            for (size_t j = 0; j < k; j++) ll[t * k + j] = likelihood(first + t, (size_t)word.phones[j]);
        std::vector<double> best(n, -INFINITY), next(n);
        std::vector<unsigned char> moved(len * n, 0); // state j at frame t was entered from j - 1
        best[0] = ll[0];
        for (size_t t = 1; t < len; t++) {
            for (size_t j = 0; j < n; j++) {
                double stay = best[j], move = j > 0 ? best[j - 1] : -INFINITY;
                moved[t * n + j] = move > stay;
                next[j] = std::max(stay, move) + ll[t * k + j / per];
            }
            best.swap(next);
        }
        size_t j = n - 1; // reachable: there are at least n frames
        for (size_t t = len; t-- > 0;) {
            labels[first + t] = word.phones[j / per];
            if (t > 0 && moved[t * n + j]) j--;
        }
    }
    return labels;
}

std::vector<double> FitTransform(const float* cep, size_t frames, int width, const Codebooks& books,
                                 const AdaptOptions& options, const std::vector<int>& labels)
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
        Statistics st = Accumulate(x, x0, frames, books, options.top, labels);
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
