// pipeline.cpp: Pipeline: compiles the grammar in memory (engine FSG for
// the search, translation FSG for the meaning), finds a pronunciation for
// every word, hands the spliced engine network to the recogniser and matches
// what it hears against the meaning.
#include "pipeline.h"

#include "audio.h"
#include "confidence.h"
#include "dereverb.h"
#include "pronounce.h"
#include "quality.h"
#include "snr.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <unistd.h>

namespace ksspeech {

namespace {

// The largest search network, in arcs, that gets wide beams by default.
const size_t kSmallGrammarArcs = 1000;
// Gaussians scored in each mixture a frame.
const int kDefaultTopN = 8;
// Probability of a noise filler between words. The recogniser's 1e-8 made
// a breath or a knock before a word into a word of its own ("eight seven
// of clubs" for "seven of clubs" at 21 dB). On the noise benchmark, without
// the threshold, 0.1 raised the real recordings from 79.6% to 85.7% right
// over the noise levels and the held-out voices in the kitchen noise from
// 72% to 85%, and moved the synthetic voices' averages by under half a
// point (0.03 and 0.3 did less well).
const double kDefaultFillProb = 0.1;

// The deviations of c0 and c1 in clean speech: the real recordings of the
// noise benchmark have a median of 17.4 and 24.5 a recording, its clean
// synthetic voices 18.5 and 24.0; at 6 dB the synthetic voices' fall to
// 11.4 and 15.5. Restoring c0 and c1 gained 8 points at 12 to 6 dB on
// voices the settings were not tuned on, 14 on the real recordings, and
// rejected more out-of-domain speech; the higher cepstra as well, or
// higher targets, gained less.
const std::vector<double> kDefaultSpread{17.4, 24.0};
constexpr double kDefaultAdapt = 300;
// The second search, for results of a confidence below this alone: on the
// noise benchmark it changed no result above it but one clean recording
// for the worse; it then runs for 17% of the recordings (27% of those the
// grammar covers) and none of its gains are lost.
constexpr double kDefaultRefitBelow = 0.9;
constexpr double kDefaultTrimBefore = 0.3, kDefaultTrimAfter = 0.6;

std::string Extension(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string e = path.substr(dot);
    for (char& c : e) c = (char)std::tolower((unsigned char)c);
    return e;
}

bool Compiled(const std::string& path)
{
    std::string e = Extension(path);
    return e == ".fsg" || e == ".fst";
}

std::string Dir(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// Runs a call into the library; its failure becomes a SpeechError, placed in
// `source` when the library names no place of its own.
template <class F> auto Library(const std::string& source, F f) -> decltype(f())
{
    try {
        return f();
    } catch (const ksbnfc::Failure& e) {
        throw SpeechError(e.diagnostic().Located(source));
    }
}

// Prints each warning of a compile of source on err.
ksbnfc::DiagnosticSink Warnings(const std::string& source, std::FILE* err)
{
    return [source, err](const ksbnfc::Diagnostic& d) {
        std::fprintf(err, "ksspeech: %s\n", d.Located(source).c_str());
    };
}

// The name of a root as the compiler names its file: "<<command>>" -> "command".
std::string RootName(const std::string& root)
{
    std::string n;
    for (char c : root)
        if (c != '<' && c != '>') n += c;
    return n;
}

// Compiles source in one mode in memory and returns the file of the chosen
// root (the only one, or `root`).
ksbnfc::CompiledFile Compile(const std::string& source, bool translation, const std::string& root,
                             const ksbnfc::DiagnosticSink& warnings)
{
    ksbnfc::CompileOptions o;
    o.mode = translation ? ksbnfc::Mode::Translation : ksbnfc::Mode::Engine;
    o.write_files = false;
    std::vector<ksbnfc::CompiledFile> files = Library(source, [&] { return ksbnfc::Compile(source, o, warnings); });
    if (!root.empty()) {
        for (ksbnfc::CompiledFile& f : files)
            if (RootName(f.root) == root) return std::move(f);
        throw SpeechError(source + ": no root rule <<" + root + ">>");
    }
    if (files.size() != 1) {
        std::string names;
        for (const ksbnfc::CompiledFile& f : files) names += (names.empty() ? "" : ", ") + RootName(f.root);
        throw SpeechError(source + ": " + std::to_string(files.size()) + " root rules (" + names +
                          "); choose one with --root NAME");
    }
    return std::move(files[0]);
}

// What the text of the file at path is: ASCII (0), UTF-8 with a character
// beyond ASCII (1) or neither (-1).
int Utf8Text(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int beyond = 0;
    for (size_t i = 0, n; i < text.size(); i += n) {
        n = (unsigned char)text[i] < 0x80 ? 1 : ksintent::Utf8Length(text, i);
        if (n == 0) return -1;
        if (n > 1) beyond = 1;
    }
    return beyond;
}

} // namespace

Pipeline::Pipeline(const SpeechRequest& r, std::FILE* err) : r_(r), err_(err)
{
    ChooseCodePage();
    PrepareGrammar();
    RecogniserConfig rc;
    rc.model = r_.model;
    rc.dictionary = r_.model_dict;
    rc.verbose = r_.verbose;
    // A small grammar affords wide beams: they gained 3 points over the noise
    // levels of bench/speech_noise.py (13 on unseen voices) for 10% more
    // time. On a loop of 3000 words (6000 arcs) they cost 0.3 of real time
    // against 0.1, on one of 300 words 0.075 against 0.05: a larger grammar
    // keeps the recogniser's defaults.
    bool small = graph_.arcs.size() <= kSmallGrammarArcs;
    rc.search.beam = r_.beam > 0 ? r_.beam : small ? 1e-80 : 0;
    rc.search.pbeam = r_.pbeam > 0 ? r_.pbeam : small ? 1e-80 : 0;
    rc.search.wbeam = r_.wbeam > 0 ? r_.wbeam : small ? 1e-60 : 0;
    if (r_.verbose)
        std::fprintf(err_, "ksspeech: %zu arcs in the search network: %s beams\n", graph_.arcs.size(),
                     small ? "wide" : "the recogniser's default");
    rc.search.lw = r_.lw;
    rc.search.wip = r_.wip;
    rc.search.pip = r_.pip;
    rc.search.fillprob = r_.fillprob > 0 ? r_.fillprob : kDefaultFillProb;
    // Scoring the 8 best Gaussians of each mixture instead of the
    // recogniser's 4 gained 2.8 points over the noise levels on unseen voices
    // (11 on their clean speech) for a tenth more time; with the confidence
    // refitted, more out-of-domain speech was rejected than before.
    rc.search.topn = r_.topn > 0 ? r_.topn : kDefaultTopN;
    rc.retry = r_.retry;
    // The second try: 1e-20 wider than the first, and at least as wide as
    // a small grammar's default.
    rc.wide.beam = std::min(rc.search.beam > 0 ? rc.search.beam * 1e-20 : 1, 1e-80);
    rc.wide.pbeam = std::min(rc.search.pbeam > 0 ? rc.search.pbeam * 1e-20 : 1, 1e-80);
    rc.wide.wbeam = std::min(rc.search.wbeam > 0 ? rc.search.wbeam * 1e-20 : 1, 1e-60);
    rc.wide.maxhmmpf = -1;
    rc.phone_loop = true;
    rc.spread = r_.spread_set ? r_.spread : kDefaultSpread;
    // Fitting each recording's cepstra to the model gained 6 points over
    // noise on the tuning voices and 5 on the held-out ones; the prior of
    // 300 frames kept the real recordings' clean results, which 100 did not.
    rc.adapt = r_.adapt > -2 ? r_.adapt : kDefaultAdapt;
    // Fitting it again to the first hypothesis's phones and searching again
    // gained 1.6 points over noise on the held-out voices (babble 47% to
    // 53%); each second search costs 40% of the first's time (with the
    // recogniser's narrower beams it lost 10 points), which Recognise
    // spends only on the results between the threshold and refit_below_.
    // The confidence is the first search's.
    rc.refit = r_.refit;
    refit_below_ = r_.refit_below < 0 ? kDefaultRefitBelow : r_.refit_below;
    // A recording is started before the speaker speaks and stopped after,
    // and in noise the search finds words in those stretches too. With a
    // second more of noise either side of each recording, the benchmark's
    // held-out voices fell from 82.3% right over noise to 76.2% (kitchen
    // 78.4%) and people's word error in noise rose from 41% to 60%; decoding
    // only the speech found gave 82.3% (kitchen 89.7%) and 44%, in five
    // sixths of the time. On the recordings as cut, it changed 82.3% to
    // 81.5% and 41.0% to 40.4%. A margin of 0.3 s before and 0.6 s after
    // (the ends of a sentence trail off) did best on both; a lower bar than
    // kSpeechRise, or a longer margin before, let more noise in.
    trim_ = r_.trim;
    trim_before_ = r_.trim_before < 0 ? kDefaultTrimBefore : r_.trim_before;
    trim_after_ = r_.trim_after < 0 ? kDefaultTrimAfter : r_.trim_after;
    // Taking the room's late echo out before the denoiser: the benchmark's
    // held-out voices in a reverberant room (sox reverb 30 50 40) went from
    // 83.3% right to 87.5%, its out-of-domain speech at 12, 9 and 6 dB from
    // 87.5% to 88.5% not understood, and people's word error in noise from
    // 41.1% to 40.2%, for 7% more time. Clean and noisy in-domain speech
    // came out the same within a recording either way.
    dereverb_ = r_.dereverb;
    // speexdsp's noise suppression gained on every noise level of the
    // benchmark (6 dB: 50% to 68% right); without it, none.
    cleaning_.denoise = r_.denoise != "default" ? r_.denoise : CleaningAvailable("speex") ? "speex" : "none";
    cleaning_.agc = r_.agc;
    cleaning_.suppress = r_.suppress;
    if (!CleaningAvailable(cleaning_.denoise))
        throw SpeechError("--denoise " + cleaning_.denoise + ": this ksspeech was built without that library");
    if (r_.suppress != 0 && cleaning_.denoise != "speex")
        throw SpeechError("--suppress sets the speex denoiser, not --denoise " + cleaning_.denoise);
    // The recogniser's own noise removal on top of the denoiser cost the
    // held-out voices of the noise benchmark 4.4 points over the noise
    // levels (67.1% against 62.7% right without it) and 8.4 on clean speech,
    // and the tuning voices gained 0.4 with it: the two subtract the noise
    // twice. Without a denoiser it stays.
    rc.remove_noise = r_.remove_noise >= 0 ? r_.remove_noise == 1 : cleaning_.denoise == "none";
    threshold_ = r_.threshold < 0 ? kDefaultThreshold : r_.threshold;
    rec_ = OpenRecogniser(rc);
    Pronounce();
    rec_->SetGrammar(graph_, name_);
}

// Registers the extern grammar name from file: a compiled file, or a
// source compiled here for translation.
void Pipeline::Extern(const std::string& name, const std::string& file)
{
    if (Compiled(file)) {
        Library(file, [&] { return ksbnfc::Grammar::Extern(name, file); });
        return;
    }
    ksbnfc::CompiledFile f = Compile(file, true, "", Warnings(file, err_));
    Library(file, [&] { return ksbnfc::Grammar::Extern(name, f); });
}

// Where the environment names no code page, the library reads a grammar
// as 1252. A source written in UTF-8 ("café") would then be read a byte a
// character, and its words, lowered byte by byte for the recogniser,
// would reach espeak-ng and the dictionary broken ("caf\xe3\xa9"), its
// translations printed as "cafÃ©". So where the grammar source and the
// extern sources named with it are UTF-8, one at least beyond ASCII, they
// are read as UTF-8; SPCH_CODEPAGE overrides, and a compiled grammar keeps
// the code page it was compiled in.
void Pipeline::ChooseCodePage()
{
    const char* named = std::getenv("SPCH_CODEPAGE");
    if (Compiled(r_.grammar) || (named && *named)) return;
    ks_set_cp(0);
    if (ks_get_cp() != 1252) return;
    std::vector<std::string> sources{r_.grammar};
    for (const auto& x : r_.externs)
        if (!Compiled(x.second)) sources.push_back(x.second);
    bool beyond = false;
    for (const std::string& source : sources) {
        int text = Utf8Text(source);
        if (text < 0) return;
        beyond = beyond || text == 1;
    }
    if (!beyond) return;
    ks_set_cp(KS_CP_UTF8);
    if (r_.verbose) std::fprintf(err_, "ksspeech: the grammar is UTF-8: read in code page 65001\n");
}

void Pipeline::PrepareGrammar()
{
    bool from_source = !Compiled(r_.grammar);
    if (from_source) {
        if (access(r_.grammar.c_str(), R_OK) != 0)
            throw SpeechError("can't read the grammar '" + r_.grammar + "' (" + std::strerror(errno) + ")");
        // The warnings once, from the engine run.
        ksbnfc::CompiledFile engine = Compile(r_.grammar, false, r_.root, Warnings(r_.grammar, err_));
        ksbnfc::CompiledFile translation = Compile(r_.grammar, true, r_.root, nullptr);
        engine_ = Library(engine.path, [&] { return ksbnfc::Grammar::FromBytes(engine.bytes, engine.path); });
        // The understander holds the translation grammar: loaded once.
        intents_ = Library(translation.path, [&] {
            return ksintent::Understander::FromBytes(translation.bytes, translation.path);
        });
        name_ = RootName(engine.root);
    } else {
        engine_ = Library(r_.grammar, [&] { return ksbnfc::Grammar::Load(r_.grammar); });
        const std::string& meaning = !r_.translation.empty() ? r_.translation : r_.grammar;
        if (Extension(meaning) == ".fst")
            intents_ = Library(meaning, [&] { return ksintent::Understander::Load(meaning); });
        else if (!r_.translation.empty())
            translation_ = Library(r_.translation, [&] { return ksbnfc::Grammar::Load(r_.translation); });
        size_t slash = r_.grammar.find_last_of('/');
        name_ = r_.grammar.substr(slash == std::string::npos ? 0 : slash + 1);
        name_ = name_.substr(0, name_.find_last_of('.'));
    }
    // A translation FSG given alone is its own meaning.
    meaning_ = intents_ ? &intents_->Grammar() : translation_ ? translation_.get() : engine_.get();
    translates_ = from_source || !r_.translation.empty() || Extension(r_.grammar) == ".fst";

    ksexport::Options o;
    o.lower = true;
    std::vector<std::string> given;
    for (const auto& x : r_.externs) {
        Extern(x.first, x.second);
        given.push_back(x.first);
    }
    if (from_source) {
        // Externs not named on the command line are looked for beside the
        // grammar: NAME.bnf compiled here, else NAME.fst, else NAME.fsg.
        std::string dir = Dir(r_.grammar);
        ksbnfc::GraphView view = engine_->Graph();
        for (int j = 0; j < view.Externs(); j++) {
            std::string text = view.Extern(j) ? view.Extern(j) : "";
            std::string name = text.size() > 2 ? text.substr(1, text.size() - 2) : text;
            if (std::find(given.begin(), given.end(), name) != given.end()) continue;
            for (const char* ext : {".bnf", ".fst", ".fsg"})
                if (access((dir + name + ext).c_str(), R_OK) == 0) {
                    Extern(name, dir + name + ext);
                    given.push_back(name);
                    break;
                }
        }
        o.source = dir + name_ + ".fst";
    } else {
        o.source = r_.grammar;
    }
    graph_ = ksexport::Flatten(*engine_, o);
}

// Every word of the grammar needs a pronunciation: the model's
// dictionary, the user's dictionaries, then letter to sound.
void Pipeline::Pronounce()
{
    Dictionary extra;
    std::vector<std::string> unusable;
    for (const std::string& d : r_.dicts) ReadDictionary(d, extra, unusable);
    for (const std::string& u : unusable) std::fprintf(err_, "ksspeech: warning: %s\n", u.c_str());
    std::vector<std::pair<std::string, std::string>> add;
    std::vector<std::string> missing;
    bool espeak = true; // until it turns out not to be installed
    for (const std::string& w : graph_.words) {
        auto it = extra.find(w);
        if (it != extra.end()) {
            // The user's pronunciations come after the dictionary's own,
            // as the variants "w(2)", "w(3)", ... that the search tries too.
            auto variant = [&](size_t k) { return k == 1 ? w : w + "(" + std::to_string(k) + ")"; };
            std::vector<std::string> have;
            for (std::string p; !(p = rec_->Pronunciation(variant(have.size() + 1))).empty();) have.push_back(p);
            for (const std::string& phones : it->second) {
                if (std::find(have.begin(), have.end(), phones) != have.end()) continue;
                have.push_back(phones);
                add.emplace_back(variant(have.size()), phones);
            }
            continue;
        }
        if (rec_->HasWord(w)) continue;
        std::string phones, mnemonics;
        if (r_.espeak && espeak) {
            espeak = RunEspeak(w, &mnemonics);
            phones = EspeakToPhones(mnemonics);
        }
        if (phones.empty()) {
            missing.push_back(w);
            continue;
        }
        std::fprintf(err_, "ksspeech: warning: '%s' is not in the dictionary; espeak-ng pronounces it %s (%s)\n",
                     w.c_str(), phones.c_str(), mnemonics.c_str());
        add.emplace_back(w, phones);
    }
    if (!missing.empty()) {
        std::string list;
        for (const std::string& w : missing) list += (list.empty() ? "" : ", ") + w;
        throw SpeechError(std::to_string(missing.size()) + " word(s) of the grammar have no pronunciation: " +
                          list + " (not in " + r_.model_dict +
                          (!r_.espeak ? "" : espeak ? ", and espeak-ng could not pronounce them"
                                                  : ", and espeak-ng, the letter-to-sound fallback, is not installed") +
                          "; give them with --dict FILE, one 'word PHONES' a line)");
    }
    if (!add.empty()) rec_->AddWords(add);
}

Result Pipeline::Recognise(const std::vector<int16_t>& samples)
{
    Result res;
    res.audio = (double)samples.size() / rec_->SampleRate();
    res.warnings = AudioWarnings(samples.data(), samples.size(), rec_->SampleRate());
    auto t0 = std::chrono::steady_clock::now();
    std::vector<Hypothesis> hyps;
    std::vector<int16_t> clean = samples;
    if (dereverb_) Dereverb(clean);
    if (cleaning_.denoise != "none") {
        int db = Clean(cleaning_, rec_->SampleRate(), clean);
        if (r_.verbose && db != 0) std::fprintf(err_, "ksspeech: noise suppressed by up to %d dB\n", -db);
    }
    if (trim_) {
        int rate = rec_->SampleRate();
        Span sp = SpeechSpan(clean.data(), clean.size(), rate, (size_t)std::lround(trim_before_ * rate),
                             (size_t)std::lround(trim_after_ * rate));
        if (sp.end - sp.begin < clean.size()) {
            if (r_.verbose)
                std::fprintf(err_, "ksspeech: speech found from %.2f to %.2f s of %.2f, the rest not decoded\n",
                             (double)sp.begin / rate, (double)sp.end / rate, (double)clean.size() / rate);
            clean.erase(clean.begin() + (std::ptrdiff_t)sp.end, clean.end());
            clean.erase(clean.begin(), clean.begin() + (std::ptrdiff_t)sp.begin);
        }
    }
    hyps = rec_->Decode(clean, r_.nbest);
    Result first = Interpret(hyps, res);
    // A sure result is seldom changed by the second search, and one not
    // understood stays so (the confidence is the first search's): only
    // those between are searched again.
    if (r_.refit && first.complete && first.confidence >= threshold_ &&
        (first.confidence < refit_below_ || refit_below_ >= 1)) {
        std::vector<Hypothesis> second = rec_->Refit(r_.nbest);
        if (!second.empty()) {
            if (r_.verbose) std::fprintf(err_, "ksspeech: searched again, the transform refitted\n");
            first = Interpret(second, res);
        }
    }
    first.decode = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return first;
}

Result Pipeline::Interpret(const std::vector<Hypothesis>& hyps, Result res)
{
    for (size_t i = 0; i < hyps.size(); i++) {
        if (r_.verbose)
            std::fprintf(err_, "ksspeech: hypothesis %d (score %ld over %d frames, %s, margin %.1f a frame): %s\n",
                         (int)i + 1, (long)hyps[i].score, hyps[i].frames, !hyps[i].complete ? "partial" : hyps[i].wide ? "wide" : "complete",
                         Margin(hyps[i]), hyps[i].words.c_str());
        std::vector<std::string> words = Split(hyps[i].words);
        ksbnfc::Grammar::Result m = Library(r_.grammar, [&] { return meaning_->Match(words); });
        if (m.accepted != 2 && i + 1 < hyps.size()) continue;
        res.recognised = true;
        res.words = hyps[i].words;
        res.rank = (int)i + 1;
        res.complete = hyps[i].complete;
        res.accepted = m.accepted == 2 && hyps[i].complete;
        res.confidence = res.accepted ? Confidence(hyps[i]) : 0.0;
        res.understood = res.accepted && res.confidence >= threshold_;
        if (res.accepted && translates_ && m.has_translation) {
            res.has_translation = true;
            res.translation = m.translation;
        }
        if (res.accepted && intents_ && intents_->HasIntents()) {
            ksintent::Understanding u = Library(r_.grammar, [&] { return intents_->Understand(words); });
            res.intent = u.intent;
            res.slots = u.slots;
        }
        if (res.accepted) break;
    }
    if (r_.verbose)
        std::fprintf(err_, "ksspeech: confidence %.4f, margin %.3f a frame, word margin %.3f\n", res.confidence,
                     res.recognised ? Margin(hyps[(size_t)res.rank - 1]) : 0.0,
                     res.recognised ? WordMargin(hyps[(size_t)res.rank - 1]) : 0.0);
    return res;
}

void Pipeline::Begin(bool live)
{
    utterance_.clear();
    feed_time_ = 0;
    live_ = live;
    if (!live_) return;
    cleaner_.reset(new Cleaner(cleaning_, rec_->SampleRate(), true));
    rec_->Begin();
}

void Pipeline::Feed(const int16_t* samples, size_t n)
{
    utterance_.insert(utterance_.end(), samples, samples + n);
    if (!live_) return;
    auto t0 = std::chrono::steady_clock::now();
    cleaned_.clear();
    cleaner_->Process(samples, n, cleaned_);
    rec_->Feed(cleaned_.data(), cleaned_.size());
    feed_time_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

Result Pipeline::End()
{
    if (live_) {
        live_ = false;
        rec_->Stop();
    }
    Result res = Recognise(utterance_);
    res.decode += feed_time_;
    return res;
}

Result Pipeline::Understand(const std::string& text)
{
    std::string words;
    for (char ch : text) {
        unsigned char c = (unsigned char)ch;
        if (std::isalnum(c) || c == '\'' || c >= 0x80)
            words += (char)std::tolower(c);
        else if (!words.empty() && words.back() != ' ')
            words += ' ';
    }
    while (!words.empty() && words.back() == ' ') words.pop_back();
    if (words.empty()) return Result();
    // Text is heard for certain: the grammar's acceptance decides.
    Result res = Interpret({Hypothesis{words, 0, true, false, 0, 0, 0, {}}}, Result());
    res.confidence = res.accepted ? 1 : 0;
    res.understood = res.accepted;
    return res;
}

std::string Json(const std::string& s)
{
    return ksintent::JsonString(s, ks_get_cp() == 65001);
}

std::string IntentMembers(const Result& r)
{
    ksintent::Understanding u;
    u.intent = r.intent;
    u.slots = r.slots;
    return ksintent::IntentMembers(u, ks_get_cp() == 65001);
}

} // namespace ksspeech
