// recogniser_pocketsphinx.cpp: the Recogniser on CMU PocketSphinx: the
// decoder's configuration, dictionary additions, the FSG search built
// through the C API from a flattened grammar, and decoding with n-best.
#include "recogniser.h"

#include "audio.h"
#include "adapt.h"
#include "cepstra.h"
#include "pronounce.h"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <sphinxbase/feat.h>
#include <sphinxbase/fsg_model.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <type_traits>
#include <sys/stat.h>
#include <unistd.h>

namespace ksspeech {
namespace {

bool IsDir(const std::string& p)
{
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

const char kLoop[] = "#loop", kWide[] = "#wide";

static_assert(std::is_same<mfcc_t, float>::value, "the cepstra are restored as floats");

// The cepstra of one recording, frame after frame, `width` values each.
struct Cepstra {
    std::vector<mfcc_t> values;
    int width = 0;
    size_t Frames() const { return width ? values.size() / (size_t)width : 0; }
};

// Appends the recogniser's arguments for the settings that are set.
void Settings(const Search& s, std::vector<std::string>& args)
{
    auto add = [&](const char* name, double v) {
        if (v <= 0) return;
        char buf[32];
        std::snprintf(buf, sizeof buf, "%g", v);
        args.push_back(name);
        args.push_back(buf);
    };
    add("-beam", s.beam);
    add("-pbeam", s.pbeam);
    add("-wbeam", s.wbeam);
    add("-lw", s.lw);
    add("-wip", s.wip);
    add("-pip", s.pip);
    add("-fillprob", s.fillprob);
    if (s.topn > 0) {
        args.push_back("-topn");
        args.push_back(std::to_string(s.topn));
    }
    if (s.maxhmmpf != 0) {
        args.push_back("-maxhmmpf");
        args.push_back(std::to_string(s.maxhmmpf));
    }
}

// The filler words of the model's noise dictionary ("noisedict": a word
// and its phones a line), in its order, but for the sentence start and end
// "<s>" and "</s>"; none when the model has no such file.
std::vector<std::string> ReadFillers(const std::string& model)
{
    std::vector<std::string> words;
    std::ifstream in(model + "/noisedict");
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string w;
        if (!(fields >> w) || w[0] == ';' || w == "<s>" || w == "</s>") continue;
        words.push_back(w);
    }
    return words;
}

class PocketSphinx : public Recogniser {
public:
    explicit PocketSphinx(const RecogniserConfig& c)
    {
        if (!IsDir(c.model)) throw SpeechError("acoustic model folder '" + c.model + "' not found (package pocketsphinx-en-us, or --model DIR)");
        for (const char* f : {"mdef", "means", "variances", "transition_matrices"})
            if (access((c.model + "/" + f).c_str(), R_OK) != 0)
                throw SpeechError("'" + c.model + "' is not an acoustic model folder: it lacks " + f);
        if (access(c.dictionary.c_str(), R_OK) != 0)
            throw SpeechError("dictionary '" + c.dictionary + "' not readable (package pocketsphinx-en-us, or --model-dict FILE)");
        fillers_ = ReadFillers(c.model);
        // Read before the decoder exists, so that a bad file leaks nothing.
        if (c.adapt >= 0) {
            books_ = ReadCodebooks(c.model);
            adapt_.prior = c.adapt;
            if (c.refit && !books_.Empty()) {
                std::vector<std::string> phones = ReadPhones(c.model);
                // Only where each base phone has a codebook of its own.
                if (phones.size() * books_.densities == books_.count)
                    for (size_t i = 0; i < phones.size(); i++) codebook_[phones[i]] = (int)i;
            }
        }
        // Silent unless asked: the decoder logs every setting at start.
        if (!c.verbose) err_set_logfp(nullptr);
        // The phone loop of the confidence runs on context-independent
        // phones: a fifth of the cost of the grammar search.
        std::vector<std::string> args{"-hmm", c.model, "-dict", c.dictionary, "-remove_noise",
                                      c.remove_noise ? "yes" : "no", "-allphone_ci", "yes"};
        Settings(c.search, args);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(&a[0]);
        config_ = cmd_ln_parse_r(nullptr, ps_args(), (int32)argv.size(), argv.data(), FALSE);
        if (!config_) throw SpeechError("the recogniser rejected its configuration");
        ps_ = ps_init(config_);
        if (!ps_) {
            cmd_ln_free_r(config_);
            throw SpeechError("the recogniser could not load the model '" + c.model + "' (run with -v for its log)");
        }
        feat_t* f = ps_get_feat(ps_);
        initial_mean_.resize((size_t)feat_cepsize(f));
        if (f->cmn_struct) cmn_live_get(f->cmn_struct, initial_mean_.data());
        cmn_ = f->cmn;
        retry_ = c.retry;
        wide_ = c.wide;
        spread_ = c.spread;
        spread_gain_ = c.spread_gain;
        verbose_ = c.verbose;
        if (c.phone_loop && ps_set_allphone(ps_, kLoop, nullptr) < 0) {
            ps_free(ps_);
            cmd_ln_free_r(config_);
            throw SpeechError("the recogniser could not set up its phone loop (run with -v for its log)");
        }
        loop_ = c.phone_loop;
    }
    ~PocketSphinx() override
    {
        ps_free(ps_);
        cmd_ln_free_r(config_);
    }

    int SampleRate() const override { return (int)cmd_ln_float32_r(config_, "-samprate"); }

    std::string Pronunciation(const std::string& word) override
    {
        char* phones = ps_lookup_word(ps_, word.c_str());
        if (!phones) return std::string();
        std::string p = phones;
        ckd_free(phones);
        return p;
    }

    void AddWords(const std::vector<std::pair<std::string, std::string>>& words) override
    {
        for (size_t i = 0; i < words.size(); i++)
            if (ps_add_word(ps_, words[i].first.c_str(), words[i].second.c_str(), i + 1 == words.size()) < 0)
                throw SpeechError("the recogniser refused the pronunciation '" + words[i].second + "' of '" +
                                  words[i].first + "' (a phone the model lacks?)");
    }

    void SetGrammar(const ksexport::Graph& g, const std::string& name) override
    {
        // The wide search reads its beams from the configuration when it
        // is made; the configuration gets the usual ones back after.
        if (retry_) {
            struct Beam {
                const char* name;
                double wide;
                double was;
            } beams[] = {{"-beam", wide_.beam, 0}, {"-pbeam", wide_.pbeam, 0}, {"-wbeam", wide_.wbeam, 0}};
            for (Beam& b : beams) {
                b.was = cmd_ln_float_r(config_, b.name);
                if (b.wide > 0) cmd_ln_set_float_r(config_, b.name, b.wide);
            }
            long maxhmmpf = cmd_ln_int_r(config_, "-maxhmmpf");
            if (wide_.maxhmmpf != 0) cmd_ln_set_int_r(config_, "-maxhmmpf", wide_.maxhmmpf);
            fsg_model_t* fsg = Fsg(g, kWide);
            int rc = ps_set_fsg(ps_, kWide, fsg);
            fsg_model_free(fsg); // the search keeps its own reference
            for (Beam& b : beams) cmd_ln_set_float_r(config_, b.name, b.was);
            cmd_ln_set_int_r(config_, "-maxhmmpf", maxhmmpf);
            if (rc < 0) throw SpeechError("the recogniser could not search the grammar (run with -v for its log)");
        }
        name_ = name;
        fsg_model_t* fsg = Fsg(g, name);
        int rc = ps_set_fsg(ps_, name.c_str(), fsg);
        fsg_model_free(fsg);
        if (rc < 0 || ps_set_search(ps_, name.c_str()) < 0)
            throw SpeechError("the recogniser could not search the grammar (run with -v for its log)");
    }

    std::vector<Hypothesis> Decode(const std::vector<int16_t>& samples, int nbest) override
    {
        Hypothesis partial;
        last_ = {};
        Cepstra plain = Features(samples), cep = plain;
        Transform(cep, {});
        std::vector<Hypothesis> out = Run(name_, cep, nbest, partial);
        out = Complete(std::move(out), partial, cep, nbest);
        if (!out.empty() && out[0].complete && !codebook_.empty()) {
            last_.plain = std::move(plain);
            last_.cep = std::move(cep);
            last_.first = out[0];
            last_.ready = true;
        }
        return out;
    }

    std::vector<Hypothesis> Refit(int nbest) override
    {
        if (!last_.ready) return {};
        last_.ready = false;
        // The first hypothesis says which phone each frame is: the
        // transform fitted to those phones' Gaussians alone is a closer
        // one, and the search again with it finds the words. Fitted so, the
        // cepstra favour that hypothesis whether or not it was right, so
        // the confidence stays the first search's against the phone loop.
        Cepstra again = std::move(last_.plain);
        Transform(again, Labels(last_.cep));
        Hypothesis partial;
        std::vector<Hypothesis> second = Run(name_, again, nbest, partial);
        for (Hypothesis& h : second) {
            std::string words = std::move(h.words);
            h = last_.first;
            h.words = std::move(words);
        }
        return second;
    }

    void Begin() override
    {
        if (ps_set_search(ps_, name_.c_str()) < 0) throw SpeechError("the recogniser lost its search " + name_);
        if (ps_start_utt(ps_) < 0) throw SpeechError("the recogniser could not start decoding");
    }

    void Feed(const int16_t* samples, size_t n) override
    {
        if (ps_process_raw(ps_, samples, n, FALSE, FALSE) < 0) {
            ps_end_utt(ps_); // the utterance is over; Begin starts the next
            throw SpeechError("the recogniser failed on the samples");
        }
    }

    std::string Partial() override
    {
        int32 score = 0;
        const char* h = ps_get_hyp(ps_, &score);
        return h ? h : "";
    }

    void Stop() override
    {
        if (ps_end_utt(ps_) < 0) throw SpeechError("the recogniser could not finish decoding");
    }

    void Forget() override
    {
        ps_start_stream(ps_); // the noise level
        feat_t* f = ps_get_feat(ps_);
        if (f->cmn_struct) cmn_live_set(f->cmn_struct, initial_mean_.data());
    }

private:
    // The FSG of part 0 of g, for the search `name`.
    fsg_model_t* Fsg(const ksexport::Graph& g, const std::string& name)
    {
        const ksexport::Part& part = g.parts.at(0);
        logmath_t* lmath = ps_get_logmath(ps_);
        float32 lw = cmd_ln_float32_r(config_, "-lw");
        fsg_model_t* fsg = fsg_model_init(name.c_str(), lmath, lw, part.count);
        fsg->start_state = part.start - part.first;
        fsg->final_state = part.final_state - part.first;
        // As the recogniser's own FSG reader: linear probabilities scaled by
        // the language weight, at most 1 per state, null arcs closed.
        std::vector<double> sum((size_t)part.count, 0.0);
        for (const ksexport::Arc& a : g.arcs)
            if (a.from >= part.first && a.from < part.first + part.count) sum[(size_t)(a.from - part.first)] += a.p;
        for (const ksexport::Arc& a : g.arcs) {
            if (a.from < part.first || a.from >= part.first + part.count) continue;
            double s = sum[(size_t)(a.from - part.first)];
            double p = s > 1 ? a.p / s : a.p;
            int32 logp = (int32)(logmath_log(lmath, p) * lw);
            int from = a.from - part.first, to = a.to - part.first;
            if (a.word < 0) {
                if (from != to) fsg_model_null_trans_add(fsg, from, to, logp);
            } else {
                int32 wid = fsg_model_word_add(fsg, g.words[(size_t)a.word].c_str());
                fsg_model_trans_add(fsg, from, to, logp, wid);
            }
        }
        glist_free(fsg_model_null_trans_closure(fsg, nullptr));
        // Pauses and fillers may come between any two words. The recogniser
        // adds them itself to a grammar that has none, but its loop over the
        // noise dictionary stops one short: the last filler, the model's
        // [SPEECH], which takes hesitations and mumbles, was never in the
        // search, and an "um" had to be heard as some word of the grammar.
        // So they are all added here, with the recogniser's probabilities.
        // On the noise benchmark, sentences with an "um" or "er" in them went
        // from 63.9% right to 72.2% clean and from 51.6% to 58.3% over the
        // noise levels (kitchen 54.1% to 64.9%), the fluent ones moved by
        // 0.2 points, and 1 to 1.4 points more out-of-domain speech was not
        // understood.
        if (!fillers_.empty()) {
            fsg_model_add_silence(fsg, "<sil>", -1, cmd_ln_float32_r(config_, "-silprob"));
            for (const std::string& w : fillers_)
                fsg_model_add_silence(fsg, w.c_str(), -1, cmd_ln_float32_r(config_, "-fillprob"));
        }
        return fsg;
    }

    // The cepstra of samples, computed once for every search of them: fed
    // the samples each time, the recogniser's voice detection would cut
    // each search a different stretch, and the phone loop's score would
    // not be over the frames of the grammar's. With spread_, noise's
    // narrowing of the lowest cepstra is undone (RestoreSpread).
    Cepstra Features(const std::vector<int16_t>& samples)
    {
        fe_t* fe = ps_get_fe(ps_);
        Cepstra cep;
        cep.width = fe_get_output_size(fe);
        if (fe_start_utt(fe) < 0) throw SpeechError("the recogniser could not start decoding");
        const int16* p = samples.data();
        size_t left = samples.size();
        int32 most = 0;
        fe_process_frames(fe, &p, &left, nullptr, &most, nullptr); // counts only
        cep.values.assign(((size_t)most + 1) * (size_t)cep.width, 0);
        std::vector<mfcc_t*> rows((size_t)most + 1);
        for (size_t i = 0; i < rows.size(); i++) rows[i] = &cep.values[i * (size_t)cep.width];
        int32 n = most;
        if (fe_process_frames(fe, &p, &left, rows.data(), &n, nullptr) < 0 || n < 0 || n > most)
            throw SpeechError("the recogniser failed on the samples");
        int32 last = 0;
        fe_end_utt(fe, rows[(size_t)n], &last);
        cep.values.resize((size_t)(n + (last > 0 ? 1 : 0)) * (size_t)cep.width);
        if (!spread_.empty()) {
            std::vector<double> was = Deviations(cep.values.data(), cep.Frames(), cep.width);
            std::vector<double> gain =
                RestoreSpread(cep.values.data(), cep.Frames(), cep.width, spread_, spread_gain_);
            if (verbose_) {
                std::fprintf(stderr, "ksspeech: %zu frames; cepstral spread", cep.Frames());
                for (size_t d = 0; d < gain.size(); d++) std::fprintf(stderr, " c%zu %.1f x%.2f", d, was[d], gain[d]);
                std::fprintf(stderr, "\n");
            }
        }
        return cep;
    }

    // With books_, fits the cepstra to the model (FitTransform), each frame
    // to its labelled codebook's Gaussians where labels are given.
    void Transform(Cepstra& cep, const std::vector<int>& labels)
    {
        if (books_.Empty()) return;
        std::vector<double> a = FitTransform(cep.values.data(), cep.Frames(), cep.width, books_, adapt_, labels);
        ApplyTransform(cep.values.data(), cep.Frames(), cep.width, a);
        if (verbose_) {
            std::fprintf(stderr, "ksspeech: transform%s diagonal", labels.empty() ? "" : " (refitted)");
            for (int d = 0; d < cep.width; d++) std::fprintf(stderr, " %.2f", a[(size_t)d * cep.width + d]);
            std::fprintf(stderr, "\n");
        }
    }

    // Each frame's codebook under the best hypothesis of the last search,
    // its words' phones aligned to the frames of cep; silence's between
    // and around the words.
    std::vector<int> Labels(const Cepstra& cep)
    {
        auto sil = codebook_.find("SIL");
        std::vector<Stretch> words;
        for (const Segment& seg : segments_) {
            Stretch st;
            if (seg.first < 0 || seg.last < seg.first) continue;
            st.first = (size_t)seg.first;
            st.last = (size_t)seg.last;
            for (const std::string& phone : Split(Pronunciation(seg.word))) {
                auto c = codebook_.find(phone);
                st.phones.push_back(c == codebook_.end() ? -1 : c->second);
            }
            words.push_back(std::move(st));
        }
        return AlignPhones(cep.values.data(), cep.Frames(), cep.width, books_, words,
                           sil == codebook_.end() ? -1 : sil->second);
    }

    // Decodes the cepstra with the search `search` (made current here): the
    // complete hypotheses, up to nbest, and in partial the best path at the
    // last frame whether or not it reached the end.
    std::vector<Hypothesis> Run(const std::string& search, const Cepstra& cep, int nbest, Hypothesis& partial)
    {
        if (ps_set_search(ps_, search.c_str()) < 0) throw SpeechError("the recogniser lost its search " + search);
        // A live search leaves the mean normalisation live, its mean
        // carried over from the utterances before; a whole utterance takes
        // the model's own (its own mean). Left live, the commands of the
        // listening benchmark were 9 of 14 right against 11 as recordings.
        ps_get_feat(ps_)->cmn = cmn_;
        if (ps_start_utt(ps_) < 0) throw SpeechError("the recogniser could not start decoding");
        std::vector<mfcc_t> values = cep.values; // the recogniser normalises them in place
        std::vector<mfcc_t*> rows(cep.Frames());
        for (size_t i = 0; i < rows.size(); i++) rows[i] = &values[i * (size_t)cep.width];
        if (ps_process_cep(ps_, rows.data(), (int)rows.size(), FALSE, TRUE) < 0) {
            ps_end_utt(ps_);
            throw SpeechError("the recogniser failed on the samples");
        }
        return End(nbest, partial, search != kLoop);
    }

    // Ends the utterance under way: its hypotheses as Run gives them. The
    // phone loop (`search` false) gives only its score, in partial: the
    // recogniser leaks a little on every hypothesis or segment list it
    // builds for that search, so it is asked once.
    std::vector<Hypothesis> End(int nbest, Hypothesis& partial, bool search = true)
    {
        int32 score = 0;
        const char* h = ps_get_hyp(ps_, &score);
        int frames = ps_get_n_frames(ps_);
        partial = Hypothesis{h ? h : "", score, false, false, frames, 0, 0, {}};
        if (!search) LoopProfile(frames);
        if (ps_end_utt(ps_) < 0) throw SpeechError("the recogniser could not finish decoding");
        if (!search) return {};
        return Hypotheses(nbest, frames, partial);
    }

    // After the first search over samples: the wide second try when it
    // reached no end of the grammar, the partial path when that failed too,
    // and the phone loop's score for the confidence.
    std::vector<Hypothesis> Complete(std::vector<Hypothesis> out, Hypothesis partial, const Cepstra& cep,
                                     int nbest)
    {
        if (out.empty() && retry_) {
            Hypothesis wide_partial;
            out = Run(kWide, cep, nbest, wide_partial);
            for (Hypothesis& h : out) h.wide = true;
            if (!wide_partial.words.empty()) partial = wide_partial;
            ps_set_search(ps_, name_.c_str());
        }
        if (out.empty() && !partial.words.empty()) out.push_back(partial);
        if (loop_ && !out.empty()) {
            Hypothesis loop;
            Run(kLoop, cep, 1, loop);
            if (verbose_) std::fprintf(stderr, "ksspeech: phone loop over %d frames, score %d\n", loop.frames, (int)loop.score);
            ps_set_search(ps_, name_.c_str());
            for (Hypothesis& h : out) {
                h.loop_score = loop.score;
                for (Hypothesis::Word& w : h.spans) w.loop = LoopScore(w.first, w.last);
            }
        }
        return out;
    }

    // The phone loop's acoustic score from frame 0 up to each frame, each
    // phone's score spread evenly over its frames.
    void LoopProfile(int frames)
    {
        loop_profile_.assign((size_t)std::max(frames, 0) + 1, 0);
        std::vector<double> at(loop_profile_.size(), 0.0);
        for (ps_seg_t* seg = ps_seg_iter(ps_); seg; seg = ps_seg_next(seg)) {
            int sf = 0, ef = 0;
            int32 ascr = 0, lscr = 0, lback = 0;
            ps_seg_frames(seg, &sf, &ef);
            ps_seg_prob(seg, &ascr, &lscr, &lback);
            sf = std::max(sf, 0);
            ef = std::min(ef, frames - 1);
            for (int f = sf; f <= ef; f++) at[(size_t)f] += (double)ascr / (ef - sf + 1);
        }
        double sum = 0;
        for (size_t f = 0; f + 1 < loop_profile_.size(); f++) {
            sum += at[f];
            loop_profile_[f + 1] = sum;
        }
    }

    int32_t LoopScore(int first, int last) const
    {
        if (loop_profile_.empty()) return 0;
        int end = (int)loop_profile_.size() - 1;
        size_t a = (size_t)std::clamp(first, 0, end), b = (size_t)std::clamp(last + 1, 0, end);
        return (int32_t)(loop_profile_[b] - loop_profile_[a]);
    }

    // The hypotheses of the utterance just ended, best first.
    std::vector<Hypothesis> Hypotheses(int nbest, int frames, Hypothesis& partial)
    {
        std::vector<Hypothesis> out;
        segments_.clear();
        int32 score = 0;
        const char* best = ps_get_hyp(ps_, &score);
        if (best && *best) {
            out.push_back(Hypothesis{best, score, true, false, frames, 0, 0, {}});
            for (ps_seg_t* seg = ps_seg_iter(ps_); seg; seg = ps_seg_next(seg)) {
                const char* w = ps_seg_word(seg);
                int sf = 0, ef = 0;
                ps_seg_frames(seg, &sf, &ef);
                if (w && *w != '<' && *w != '[' && std::strcmp(w, "(NULL)") != 0) {
                    segments_.push_back(Segment{w, sf, ef});
                    out[0].speech_frames += ef - sf + 1;
                    int32 ascr = 0, lscr = 0, lback = 0;
                    ps_seg_prob(seg, &ascr, &lscr, &lback);
                    out[0].spans.push_back(Hypothesis::Word{sf, ef, ascr, 0});
                }
            }
        } else if (best) {
            partial.score = score;
        }
        if (nbest > 1 && !out.empty()) {
            std::set<std::string> seen{out[0].words};
            ps_nbest_t* nb = ps_nbest(ps_);
            while (nb && (int)out.size() < nbest) {
                nb = ps_nbest_next(nb);
                if (!nb) break;
                const char* n = ps_nbest_hyp(nb, &score);
                if (n && *n && seen.insert(n).second) out.push_back(Hypothesis{n, score, true, false, frames, out[0].speech_frames, 0, {}});
            }
            if (nb) ps_nbest_free(nb);
        }
        return out;
    }

    cmd_ln_t* config_ = nullptr;
    ps_decoder_t* ps_ = nullptr;
    std::vector<mfcc_t> initial_mean_; // the live mean normalisation's start
    cmn_type_t cmn_ = CMN_BATCH;       // the model's mean normalisation
    std::vector<double> loop_profile_; // LoopProfile of the last phone loop
    std::string name_;
    std::vector<std::string> fillers_; // ReadFillers
    bool retry_ = true, loop_ = false, verbose_ = false;
    Search wide_;
    std::vector<double> spread_;
    double spread_gain_ = 3;
    Codebooks books_;
    AdaptOptions adapt_;
    std::map<std::string, int> codebook_; // of each base phone, with refitting
    struct Segment {
        std::string word;
        int first, last;
    };
    std::vector<Segment> segments_; // the words of the last best hypothesis
    // What Refit needs of the last Decode (segments_ too): its cepstra
    // before and after the transform, and its best hypothesis; not ready
    // when there is nothing to fit again.
    struct {
        Cepstra plain, cep;
        Hypothesis first;
        bool ready = false;
    } last_;
};

} // namespace

std::unique_ptr<Recogniser> OpenRecogniser(const RecogniserConfig& config)
{
    return std::unique_ptr<Recogniser>(new PocketSphinx(config));
}

} // namespace ksspeech
