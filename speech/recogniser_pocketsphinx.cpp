// recogniser_pocketsphinx.cpp: the Recogniser on CMU PocketSphinx: the
// decoder's configuration, dictionary additions, the FSG search built
// through the C API from a flattened grammar, and decoding with n-best.
#include "recogniser.h"

#include "audio.h"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <sphinxbase/feat.h>
#include <sphinxbase/fsg_model.h>

#include <cstdio>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace ksspeech {
namespace {

bool IsDir(const std::string& p)
{
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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
        // Silent unless asked: the decoder logs every setting at start.
        if (!c.verbose) err_set_logfp(nullptr);
        config_ = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", c.model.c_str(), "-dict", c.dictionary.c_str(),
                              nullptr);
        if (!config_) throw SpeechError("the recogniser rejected its configuration");
        ps_ = ps_init(config_);
        if (!ps_) {
            cmd_ln_free_r(config_);
            throw SpeechError("the recogniser could not load the model '" + c.model + "' (run with -v for its log)");
        }
        feat_t* f = ps_get_feat(ps_);
        initial_mean_.resize((size_t)feat_cepsize(f));
        if (f->cmn_struct) cmn_live_get(f->cmn_struct, initial_mean_.data());
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
        int rc = ps_set_fsg(ps_, name.c_str(), fsg);
        fsg_model_free(fsg); // the search keeps its own reference
        if (rc < 0 || ps_set_search(ps_, name.c_str()) < 0)
            throw SpeechError("the recogniser could not search the grammar (run with -v for its log)");
    }

    std::vector<Hypothesis> Decode(const std::vector<int16_t>& samples, int nbest) override
    {
        if (ps_start_utt(ps_) < 0) throw SpeechError("the recogniser could not start decoding");
        if (ps_process_raw(ps_, samples.data(), samples.size(), FALSE, TRUE) < 0) {
            ps_end_utt(ps_);
            throw SpeechError("the recogniser failed on the samples");
        }
        if (ps_end_utt(ps_) < 0) throw SpeechError("the recogniser could not finish decoding");
        return Hypotheses(nbest);
    }

    void Begin() override
    {
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

    std::vector<Hypothesis> Finish(int nbest) override
    {
        if (ps_end_utt(ps_) < 0) throw SpeechError("the recogniser could not finish decoding");
        return Hypotheses(nbest);
    }

    void Forget() override
    {
        ps_start_stream(ps_); // the noise level
        feat_t* f = ps_get_feat(ps_);
        if (f->cmn_struct) cmn_live_set(f->cmn_struct, initial_mean_.data());
    }

private:
    // The hypotheses of the utterance just ended, best first.
    std::vector<Hypothesis> Hypotheses(int nbest)
    {
        std::vector<Hypothesis> out;
        int32 score = 0;
        const char* best = ps_get_hyp(ps_, &score);
        if (best && *best) out.push_back(Hypothesis{best, score});
        if (nbest > 1 && !out.empty()) {
            std::set<std::string> seen{out[0].words};
            ps_nbest_t* nb = ps_nbest(ps_);
            while (nb && (int)out.size() < nbest) {
                nb = ps_nbest_next(nb);
                if (!nb) break;
                const char* h = ps_nbest_hyp(nb, &score);
                if (h && *h && seen.insert(h).second) out.push_back(Hypothesis{h, score});
            }
            if (nb) ps_nbest_free(nb);
        }
        return out;
    }

    cmd_ln_t* config_ = nullptr;
    ps_decoder_t* ps_ = nullptr;
    std::vector<mfcc_t> initial_mean_; // the live mean normalisation's start
};

} // namespace

std::unique_ptr<Recogniser> OpenRecogniser(const RecogniserConfig& config)
{
    return std::unique_ptr<Recogniser>(new PocketSphinx(config));
}

} // namespace ksspeech
