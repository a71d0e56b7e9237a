// ksspeech.cpp: the speech tool's command line. Parses the options into a
// SpeechRequest and hands it to SpeechMain (speech_main.cpp).
#include "speech_main.h"

#include "ksbnfc.h"
#include "tool_options.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

const char kUsage[] =
    "usage: ksspeech [options] GRAMMAR [TRANSLATION.fst] AUDIO...\n"
    "       ksspeech --listen [options] GRAMMAR [TRANSLATION.fst]\n"
    "       ksspeech --serve tcp://HOST:PORT [options] GRAMMAR [TRANSLATION.fst]\n"
    "Recognises speech with a grammar and prints, for each recording, the words,\n"
    "whether the grammar accepts them, their translation, the confidence that\n"
    "they were heard right, and the time taken. A result below the confidence\n"
    "threshold is \"not understood\", its best guess kept.\n"
    "GRAMMAR is a grammar source, compiled here (engine FSG for the search,\n"
    "translation FSG for the meaning), or a compiled .fsg or .fst; after a\n"
    ".fsg, a .fst gives the meaning. AUDIO is a .wav file, or raw 16 kHz 16-bit\n"
    "mono samples in a .raw or .pcm file (or any file with --raw); - reads\n"
    "standard input, a WAV stream or, with --raw, raw samples. Anything else is\n"
    "refused. A grammar source in UTF-8 (with the externs named by --extern) is\n"
    "read as UTF-8 unless SPCH_CODEPAGE names another code page.\n"
    "A recording with clipped peaks or no sound above 4 kHz (an 8 kHz link) is\n"
    "recognised worse: a warning line (in --json, \"warnings\") says so.\n"
    "\n"
    "  --root NAME          the root rule, for a grammar with several\n"
    "  --model DIR          acoustic model folder\n"
    "                       (default /usr/share/pocketsphinx/model/en-us/en-us)\n"
    "  --model-dict FILE    the model's dictionary\n"
    "                       (default /usr/share/pocketsphinx/model/en-us/cmudict-en-us.dict)\n"
    "  --dict FILE          pronunciations of further words, 'word PHONES' a line\n"
    "                       (repeatable); one of a known word is added as its\n"
    "                       next variant, word(2) and on\n"
    "  --no-espeak          no espeak-ng pronunciation of words missing from the\n"
    "                       dictionaries\n"
    "  --extern NAME=FILE, -x NAME=FILE\n"
    "                       the extern grammar NAME: a compiled file, a grammar\n"
    "                       source or a .txt list of values (repeatable); by\n"
    "                       default NAME.bnf, .fst or .fsg beside the grammar\n"
    "  --nbest N            take the first of the N best hypotheses that the\n"
    "                       grammar accepts (default 1)\n"
    "  --threshold C        below confidence C (0 to 1) a result is not understood\n"
    "                       (default 0.1); 0 takes every sentence of the grammar\n"
    "  --denoise none|speex|webrtc\n"
    "                       noise suppression before the recogniser (default\n"
    "                       speex where built, else none), a quiet recording\n"
    "                       raised to 3 dB below full scale first\n"
    "  --suppress DB        the most the speex denoiser lowers the noise, in dB\n"
    "                       (default: 15 for a recording of 22 dB signal to noise\n"
    "                       or better, 2 dB more for each dB less, at most 40; 15\n"
    "                       in a stream)\n"
    "  --dereverb, --no-dereverb\n"
    "                       with or without the room's late echo taken out of a\n"
    "                       recording first, by prediction from its past in each\n"
    "                       frequency band (default on)\n"
    "  --agc                with the denoiser's automatic gain control\n"
    "  --spread SD[,SD...]  where noise has narrowed the lowest cepstra of a\n"
    "                       recording (c0 its loudness, c1 its tilt, ...), widen\n"
    "                       them back to these deviations, by at most 3 times\n"
    "                       (default 17.4,24, as in clean speech); none: off\n"
    "  --adapt FRAMES       fit each recording's cepstra to the acoustic model by\n"
    "                       a linear transform, pulled towards none by a prior\n"
    "                       of FRAMES frames (default 300); none: off\n"
    "  --refit, --no-refit  with the transform, fit it again to the first search's\n"
    "                       best sentence, phone by phone, and search again for\n"
    "                       the words; the confidence stays the first search's\n"
    "                       (default on)\n"
    "  --refit-below C      only for a result of confidence below C that is\n"
    "                       understood (default 0.9; 1: every one)\n"
    "  --trim B[,A]         decode only the speech found in a recording by its\n"
    "                       loudness, with B seconds before it and A after\n"
    "                       (default 0.3,0.6); none: the whole recording\n"
    "  --remove-noise, --no-remove-noise\n"
    "                       with or without the recogniser's own spectral noise\n"
    "                       removal (default: only when no denoiser runs)\n"
    "  --beam P, --pbeam P, --wbeam P\n"
    "                       search beams, as probabilities relative to the best\n"
    "                       path: states, phone transitions, word exits (default\n"
    "                       1e-80, 1e-80, 1e-60 up to 1000 arcs, else the\n"
    "                       recogniser's 1e-48, 1e-48, 7e-29)\n"
    "  --lw W               language weight (default 6.5)\n"
    "  --wip P, --pip P     word and phone insertion probabilities (default 0.65, 1)\n"
    "  --fillprob P         probability of a noise (breath, click, knock) or a\n"
    "                       hesitation (um, er) between words (default 0.1)\n"
    "  --topn N             Gaussians scored in each mixture of the acoustic model,\n"
    "                       the best N a frame (default 8)\n"
    "  --no-retry           no second search with wide beams when the first ends\n"
    "                       short of the grammar; its partial words are reported\n"
    "  --json               one JSON object a recording\n"
    "  --raw                recordings without a WAV header are raw samples\n"
    "  -v                   the recogniser's own log on standard error\n"
    "\n"
    "Streams:\n"
    "  --listen             listen to standard input (raw 16 kHz 16-bit mono, or a\n"
    "                       WAV stream) and print a JSON line for each utterance as\n"
    "                       it ends: start and end in seconds, words, acceptance,\n"
    "                       translation; Ctrl-C ends\n"
    "  --device DEV         listen to a capture device instead: alsa[:PCM] or\n"
    "                       pulse[:SOURCE]\n"
    "  --partial            also a line {\"partial\": WORDS} while speech goes on\n"
    "  --max-utterance S    an utterance ends after S seconds (default 15)\n"
    "  --serve tcp://HOST:PORT\n"
    "                       a voice service for home assistants (the Wyoming\n"
    "                       protocol): speech to text and text to intent\n"
    "  --decoders N         decoders the service shares among its clients (default 2)\n"
    "  --max-clients N      connections served at once (default 32)\n"
    "  --language CODE      the language the service offers (default en)\n"
    "\n"
    "  -h, --help           this text\n"
    "      --version        the version\n"
    "\n"
    "Exit status: 0 every recording understood, 1 any not understood, 2 an error.\n";

int Usage(const std::string& msg)
{
    std::fprintf(stderr, "ksspeech: %s\nRun 'ksspeech --help' for usage.\n", msg.c_str());
    return 2;
}

// Reads the whole of n as a number in [lo, hi].
bool Number(const std::string& n, double lo, double hi, double& out)
{
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(n.c_str(), &end);
    if (n.empty() || errno || *end || !(v >= lo && v <= hi)) return false;
    out = v;
    return true;
}

// Reads a number in [lo, hi] from the option's value.
bool Number(OptionReader& opt, double lo, double hi, double& out)
{
    std::string n;
    return opt.Value(n) && Number(n, lo, hi, out);
}

bool Compiled(const std::string& path, const char* ext)
{
    size_t n = std::strlen(ext);
    return path.size() > n && path.compare(path.size() - n, n, ext) == 0;
}

// Reads the option's value as a whole number from 1 to max.
bool Number(OptionReader& opt, int& to, long max)
{
    std::string n;
    char* end = nullptr;
    errno = 0;
    long v = opt.Value(n) ? std::strtol(n.c_str(), &end, 10) : 0;
    if (n.empty() || errno || *end || v < 1 || v > max) return false;
    to = (int)v;
    return true;
}

// Reads --spread: "none", or up to 13 deviations separated by commas.
bool Spread(OptionReader& opt, std::vector<double>& out)
{
    std::string v;
    if (!opt.Value(v) || v.empty()) return false;
    out.clear();
    if (v == "none") return true;
    for (size_t at = 0; at <= v.size();) {
        size_t comma = std::min(v.find(',', at), v.size());
        double d = 0;
        if (!Number(v.substr(at, comma - at), 1, 1000, d) || out.size() == 13) return false;
        out.push_back(d);
        at = comma + 1;
    }
    return true;
}

// Reads --trim: "none", or the seconds kept before the speech and,
// after a comma, after it (as many as before when not given).
bool Trim(OptionReader& opt, SpeechRequest& r)
{
    std::string v;
    if (!opt.Value(v) || v.empty()) return false;
    r.trim = v != "none";
    if (!r.trim) return true;
    size_t comma = v.find(',');
    if (!Number(v.substr(0, comma), 0, 10, r.trim_before)) return false;
    r.trim_after = r.trim_before;
    return comma == std::string::npos || Number(v.substr(comma + 1), 0, 10, r.trim_after);
}

} // namespace

int main(int argc, char** argv)
{
    SpeechRequest r;
    std::vector<std::string> args;
    OptionReader opt(argc, argv);
    while (opt.Next()) {
        const std::string& a = opt.Arg();
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("ksspeech %s\n", KSBNFC_VERSION);
            return 0;
        } else if (a == "--root") {
            if (!opt.Value(r.root)) return Usage("--root needs a rule name");
        } else if (a == "--model") {
            if (!opt.Value(r.model)) return Usage("--model needs a folder");
        } else if (a == "--model-dict") {
            if (!opt.Value(r.model_dict)) return Usage("--model-dict needs a file");
        } else if (a == "--dict") {
            std::string d;
            if (!opt.Value(d)) return Usage("--dict needs a file");
            r.dicts.push_back(d);
        } else if (a == "--no-espeak") {
            r.espeak = false;
        } else if (opt.IsExtern()) {
            if (!opt.Extern(r.externs)) return Usage(a + " needs NAME=FILE");
        } else if (a == "--nbest") {
            if (!Number(opt, r.nbest, 1000)) return Usage("--nbest needs a number from 1 to 1000");
        } else if (a == "--beam" || a == "--pbeam" || a == "--wbeam") {
            double& b = a == "--beam" ? r.beam : a == "--pbeam" ? r.pbeam : r.wbeam;
            if (!Number(opt, 1e-300, 1, b)) return Usage(a + " needs a probability from 1e-300 to 1");
        } else if (a == "--lw") {
            if (!Number(opt, 0.1, 100, r.lw)) return Usage("--lw needs a number from 0.1 to 100");
        } else if (a == "--topn") {
            if (!Number(opt, r.topn, 64)) return Usage("--topn needs a number from 1 to 64");
        } else if (a == "--wip" || a == "--pip") {
            if (!Number(opt, 1e-300, 1e10, a == "--wip" ? r.wip : r.pip))
                return Usage(a + " needs a positive number");
        } else if (a == "--fillprob") {
            if (!Number(opt, 1e-300, 1, r.fillprob)) return Usage("--fillprob needs a probability from 1e-300 to 1");
        } else if (a == "--threshold") {
            if (!Number(opt, 0, 1, r.threshold)) return Usage("--threshold needs a number from 0 to 1");
        } else if (a == "--denoise") {
            if (!opt.Value(r.denoise) || (r.denoise != "none" && r.denoise != "speex" && r.denoise != "webrtc"))
                return Usage("--denoise needs none, speex or webrtc");
        } else if (a == "--suppress") {
            int db = 0;
            if (!Number(opt, db, 100)) return Usage("--suppress needs a number of dB from 1 to 100");
            r.suppress = -db;
        } else if (a == "--agc") {
            r.agc = true;
        } else if (a == "--no-retry") {
            r.retry = false;
        } else if (a == "--spread") {
            if (!Spread(opt, r.spread)) return Usage("--spread needs none or deviations from 1 to 1000, comma-separated");
            r.spread_set = true;
        } else if (a == "--adapt") {
            std::string v;
            double frames = -1;
            if (!opt.Value(v) || (v != "none" && !Number(v, 0, 100000, frames)))
                return Usage("--adapt needs none or a number of frames from 0 to 100000");
            r.adapt = frames;
        } else if (a == "--dereverb" || a == "--no-dereverb") {
            r.dereverb = a == "--dereverb";
        } else if (a == "--refit" || a == "--no-refit") {
            r.refit = a == "--refit";
        } else if (a == "--refit-below") {
            if (!Number(opt, 0, 1, r.refit_below)) return Usage("--refit-below needs a number from 0 to 1");
        } else if (a == "--trim") {
            if (!Trim(opt, r)) return Usage("--trim needs none, or seconds from 0 to 10 before and after: B[,A]");
        } else if (a == "--remove-noise" || a == "--no-remove-noise") {
            r.remove_noise = a == "--remove-noise";
        } else if (a == "--json") {
            r.json = true;
        } else if (a == "--raw") {
            r.raw = true;
        } else if (a == "--listen") {
            r.listen = true;
        } else if (a == "--device") {
            if (!opt.Value(r.device)) return Usage("--device needs alsa[:PCM] or pulse[:SOURCE]");
            r.listen = true;
        } else if (a == "--partial") {
            r.partial = true;
        } else if (a == "--serve") {
            if (!opt.Value(r.serve)) return Usage("--serve needs tcp://HOST:PORT");
        } else if (a == "--language") {
            if (!opt.Value(r.language) || r.language.empty()) return Usage("--language needs a code such as en");
        } else if (a == "--max-utterance" || a == "--decoders" || a == "--max-clients") {
            int* to = a == "--max-utterance" ? &r.max_utterance : a == "--decoders" ? &r.decoders : &r.max_clients;
            if (!Number(opt, *to, a == "--decoders" ? 64 : 1000)) return Usage(a + " needs a number from 1 to " + (a == "--decoders" ? "64" : "1000"));
        } else if (a == "-v") {
            r.verbose = true;
        } else if (opt.IsOption()) {
            return Usage("unknown option " + a);
        } else {
            args.push_back(a);
        }
    }
    if (args.empty()) return Usage("no grammar given");
    r.grammar = args[0];
    size_t first = 1;
    if ((Compiled(r.grammar, ".fsg") || Compiled(r.grammar, ".fst")) && args.size() > 1 && Compiled(args[1], ".fst")) {
        r.translation = args[1];
        first = 2;
    }
    r.recordings.assign(args.begin() + (long)first, args.end());
    if (r.listen || !r.serve.empty()) {
        if (r.listen && !r.serve.empty()) return Usage("--listen and --serve don't go together");
        if (!r.recordings.empty()) return Usage("no recordings with " + std::string(r.listen ? "--listen" : "--serve") + ": unexpected '" + r.recordings[0] + "'");
        return r.listen ? ListenMain(r, stdout, stderr) : ServeMain(r, stderr);
    }
    if (r.recordings.empty()) return Usage("no recording given");
    return SpeechMain(r, stdout, stderr);
}
