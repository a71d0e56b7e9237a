// speech_main.cpp: SpeechMain: compiles the grammar (engine FSG for the
// search, translation FSG for the meaning) into a temporary folder, finds a
// pronunciation for every word, hands the spliced engine network to the
// recogniser and reports words, acceptance, translation and timing for each
// recording.
#include "speech_main.h"

#include "audio.h"
#include "fsg_export.h"
#include "pronounce.h"
#include "recogniser.h"
#include "tfsg.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <map>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using ksspeech::SpeechError;

namespace {

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

std::string Trim(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

std::string Message()
{
    char* m = nullptr;
    KsGetMessage(&m);
    return Trim(m ? m : "");
}

// A folder removed with everything in it when the run ends.
class TempDir {
public:
    TempDir()
    {
        const char* t = std::getenv("TMPDIR");
        std::string tmpl = std::string(t && *t ? t : "/tmp") + "/ksspeech.XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back(0);
        if (!mkdtemp(buf.data())) throw SpeechError("can't create a temporary folder in " + tmpl);
        path = buf.data();
    }
    ~TempDir() { Remove(); }
    void Remove()
    {
        for (const std::string& f : files) unlink(f.c_str());
        for (auto d = dirs.rbegin(); d != dirs.rend(); ++d) rmdir(d->c_str());
        if (!path.empty()) rmdir(path.c_str());
        files.clear();
        dirs.clear();
        path.clear();
    }
    // A new empty sub-folder.
    std::string Sub(const std::string& name)
    {
        std::string d = path + "/" + name;
        if (mkdir(d.c_str(), 0700) != 0) throw SpeechError("can't create " + d);
        dirs.push_back(d);
        return d;
    }
    std::string path;
    std::vector<std::string> files, dirs;
};

// The files the compiler wrote into dir with the extension.
std::vector<std::string> Listing(TempDir& tmp, const std::string& dir, const std::string& ext)
{
    std::vector<std::string> out;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n == "." || n == "..") continue;
            tmp.files.push_back(dir + "/" + n);
            if (Extension(n) == ext) out.push_back(n.substr(0, n.size() - ext.size()));
        }
        closedir(d);
    }
    return out;
}

// Compiles source in one mode into a fresh sub-folder and returns the file
// of the chosen root (the only one, or `root`).
std::string Compile(TempDir& tmp, const std::string& source, bool translation, const std::string& root,
                    std::FILE* err)
{
    static int n = 0;
    std::string dir = tmp.Sub(std::to_string(n++));
    std::vector<KsArg> args;
    args.push_back(KsArg{const_cast<char*>("bnfFile"), reinterpret_cast<long>(source.c_str())});
    args.push_back(KsArg{const_cast<char*>("fsgDirectory"), reinterpret_cast<long>(dir.c_str())});
    args.push_back(KsArg{const_cast<char*>(translation ? "trMode" : "enMode"), 1});
    warnings = 1;
    int rc = KsCompileGrammar((int)args.size(), args.data());
    std::string msg = Message();
    std::string ext = translation ? ".fst" : ".fsg";
    std::vector<std::string> roots = Listing(tmp, dir, ext);
    if (rc == 1000) throw SpeechError(source + ": " + msg);
    if (rc == 1 && !msg.empty() && !translation) std::fprintf(err, "%s\n", msg.c_str());
    if (!root.empty()) {
        for (const std::string& r : roots)
            if (r == root) return dir + "/" + r + ext;
        throw SpeechError(source + ": no root rule <<" + root + ">>");
    }
    if (roots.size() != 1) {
        std::string names;
        for (const std::string& r : roots) names += (names.empty() ? "" : ", ") + r;
        throw SpeechError(source + ": " + std::to_string(roots.size()) + " root rules (" + names +
                          "); choose one with --root NAME");
    }
    return dir + "/" + roots[0] + ext;
}

// A loaded FSG, released with the object.
struct Loaded {
    void* h = nullptr;
    explicit Loaded(const std::string& file)
    {
        if (KsLoadFSG(file.c_str(), &h) == 1000 || !h) throw SpeechError(Message());
    }
    ~Loaded() { KsUnloadFSG(h); }
    Loaded(const Loaded&) = delete;
    Loaded& operator=(const Loaded&) = delete;
};

std::vector<std::string> Split(const std::string& s)
{
    std::vector<std::string> w;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && s[i] == ' ') i++;
        size_t b = i;
        while (i < s.size() && s[i] != ' ') i++;
        if (i > b) w.push_back(s.substr(b, i - b));
    }
    return w;
}

std::vector<char*> CArray(const std::vector<std::string>& words)
{
    std::vector<char*> v;
    for (const std::string& w : words) v.push_back(const_cast<char*>(w.c_str()));
    v.push_back(nullptr);
    return v;
}

// JSON string; texts of single-byte code pages are taken as Latin-1.
std::string Json(const std::string& s)
{
    bool utf8 = ks_get_cp() == 65001;
    std::string q = "\"";
    for (char ch : s) {
        unsigned char c = (unsigned char)ch;
        if (c == '"' || c == '\\') {
            q += '\\';
            q += ch;
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            q += buf;
        } else if (c >= 0x80 && !utf8) {
            q += (char)(0xC0 | c >> 6);
            q += (char)(0x80 | (c & 0x3F));
        } else {
            q += ch;
        }
    }
    return q + "\"";
}

struct Result {
    std::string words;
    bool recognised = false;
    bool accepted = false;
    bool has_translation = false;
    std::string translation;
    int rank = 0; // which hypothesis, from 1
    double audio = 0, decode = 0;
};

class Run {
public:
    Run(const SpeechRequest& r, std::FILE* out, std::FILE* err) : r_(r), out_(out), err_(err) {}

    int Go()
    {
        PrepareGrammar();
        ksspeech::RecogniserConfig rc;
        rc.model = r_.model;
        rc.dictionary = r_.model_dict;
        rc.verbose = r_.verbose;
        rec_ = ksspeech::OpenRecogniser(rc);
        Pronounce();
        rec_->SetGrammar(graph_, name_);
        int status = 0;
        for (const std::string& file : r_.recordings) {
            try {
                Print(file, Recognise(file));
            } catch (const SpeechError& e) {
                std::fprintf(err_, "ksspeech: %s\n", e.what());
                if (r_.json) std::fprintf(out_, "{\"file\": %s, \"error\": %s}\n", Json(file).c_str(), Json(e.what()).c_str());
                status = 1;
            }
            std::fflush(out_);
        }
        return status;
    }

private:
    std::string ExternFile(const std::string& file)
    {
        return Compiled(file) ? file : Compile(tmp_, file, true, "", err_);
    }

    void PrepareGrammar()
    {
        std::string engine, translation = r_.translation;
        bool from_source = !Compiled(r_.grammar);
        if (from_source) {
            if (access(r_.grammar.c_str(), R_OK) != 0)
                throw SpeechError("can't read the grammar '" + r_.grammar + "' (" + std::strerror(errno) + ")");
            engine = Compile(tmp_, r_.grammar, false, r_.root, err_);
            translation = Compile(tmp_, r_.grammar, true, r_.root, err_);
        } else {
            engine = r_.grammar;
            if (translation.empty()) translation = Extension(engine) == ".fst" ? engine : "";
        }
        engine_.reset(new Loaded(engine));
        if (!translation.empty()) translation_.reset(new Loaded(translation));
        size_t slash = engine.find_last_of('/');
        name_ = engine.substr(slash == std::string::npos ? 0 : slash + 1);
        name_ = name_.substr(0, name_.find_last_of('.'));

        ksexport::Options o;
        o.lower = true;
        for (const auto& x : r_.externs) o.externs.emplace_back(x.first, ExternFile(x.second));
        if (from_source) {
            // Externs not named on the command line are looked for beside the
            // grammar: NAME.bnf compiled here, else NAME.fst, else NAME.fsg.
            std::string dir = Dir(r_.grammar);
            TFSG* g = static_cast<TFSG*>(engine_->h);
            for (int j = 0; j < g->externs.length; j++) {
                std::string text = g->externs[j]->word.s ? g->externs[j]->word.s : "";
                std::string name = text.size() > 2 ? text.substr(1, text.size() - 2) : text;
                bool given = false;
                for (const auto& x : o.externs) given = given || x.first == name;
                if (given) continue;
                for (const char* ext : {".bnf", ".fst", ".fsg"})
                    if (access((dir + name + ext).c_str(), R_OK) == 0) {
                        o.externs.emplace_back(name, ExternFile(dir + name + ext));
                        break;
                    }
            }
            o.source = dir + name_ + ".fst";
        } else {
            o.source = engine;
        }
        graph_ = ksexport::Flatten(engine_->h, o);
        // Everything compiled is loaded now: nothing is left behind even if
        // a signal ends the run.
        tmp_.Remove();
    }

    // Every word of the grammar needs a pronunciation: the model's
    // dictionary, the user's dictionaries, then letter to sound.
    void Pronounce()
    {
        std::map<std::string, std::string> extra;
        for (const std::string& d : r_.dicts) ksspeech::ReadDictionary(d, extra);
        std::vector<std::pair<std::string, std::string>> add;
        std::vector<std::string> missing;
        bool espeak = true; // until it turns out not to be installed
        for (const std::string& w : graph_.words) {
            if (rec_->HasWord(w)) continue;
            auto it = extra.find(w);
            if (it != extra.end()) {
                add.emplace_back(w, it->second);
                continue;
            }
            std::string phones, mnemonics;
            if (r_.espeak && espeak) {
                espeak = ksspeech::RunEspeak(w, &mnemonics);
                phones = ksspeech::EspeakToPhones(mnemonics);
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

    Result Recognise(const std::string& file)
    {
        std::vector<int16_t> samples = ksspeech::ReadRecording(file, rec_->SampleRate());
        Result res;
        res.audio = (double)samples.size() / rec_->SampleRate();
        auto t0 = std::chrono::steady_clock::now();
        std::vector<ksspeech::Hypothesis> hyps = rec_->Decode(samples, r_.nbest);
        res.decode = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        void* meaning = translation_ ? translation_->h : engine_->h;
        for (size_t i = 0; i < hyps.size(); i++) {
            if (r_.verbose)
                std::fprintf(err_, "ksspeech: hypothesis %d (score %ld): %s\n", (int)i + 1, (long)hyps[i].score,
                             hyps[i].words.c_str());
            std::vector<std::string> words = Split(hyps[i].words);
            std::vector<char*> v = CArray(words);
            int result = 0;
            if (KsTest(meaning, v.data(), &result) == 1000) throw SpeechError(Message());
            if (result != 2 && i + 1 < hyps.size()) continue;
            res.recognised = true;
            res.words = hyps[i].words;
            res.rank = (int)i + 1;
            res.accepted = result == 2;
            if (res.accepted && translation_) {
                char* t = nullptr;
                if (KsGetTranslation(meaning, v.data(), &t) == 1000) throw SpeechError(Message());
                if (t) {
                    res.has_translation = true;
                    res.translation = t;
                    std::free(t);
                }
            }
            if (res.accepted) break;
        }
        return res;
    }

    void Print(const std::string& file, const Result& res)
    {
        double rtf = res.audio > 0 ? res.decode / res.audio : 0;
        if (r_.json) {
            std::fprintf(out_, "{\"file\": %s, \"words\": %s, \"accepted\": %s, \"translation\": %s, "
                               "\"hypothesis\": %d, \"audio_seconds\": %.3f, \"decode_seconds\": %.3f, "
                               "\"real_time_factor\": %.3f}\n",
                         Json(file).c_str(), res.recognised ? Json(res.words).c_str() : "null",
                         res.accepted ? "true" : "false", res.has_translation ? Json(res.translation).c_str() : "null",
                         res.rank, res.audio, res.decode, rtf);
            return;
        }
        std::fprintf(out_, "%s\n", file == "-" ? "standard input" : file.c_str());
        std::fprintf(out_, "  words:       %s\n", res.recognised ? res.words.c_str() : "(nothing recognised)");
        std::fprintf(out_, "  accepted:    %s\n", res.accepted ? "yes" : "no");
        if (res.rank > 1) std::fprintf(out_, "  hypothesis:  %d of the n best\n", res.rank);
        std::fprintf(out_, "  translation: %s\n", res.has_translation ? res.translation.c_str() : "-");
        std::fprintf(out_, "  time:        %.2f s of audio decoded in %.2f s (%.2f x real time)\n", res.audio,
                     res.decode, rtf);
    }

    const SpeechRequest& r_;
    std::FILE* out_;
    std::FILE* err_;
    TempDir tmp_;
    std::unique_ptr<Loaded> engine_, translation_;
    std::string name_;
    ksexport::Graph graph_;
    std::unique_ptr<ksspeech::Recogniser> rec_;
};

} // namespace

int SpeechMain(const SpeechRequest& r, std::FILE* out, std::FILE* err)
{
    try {
        Run run(r, out, err);
        return run.Go();
    } catch (const SpeechError& e) {
        std::fprintf(err, "ksspeech: %s\n", e.what());
    } catch (const ksexport::Error& e) {
        std::fprintf(err, "ksspeech: %s: %s\n", r.grammar.c_str(), e.what());
    } catch (char* msg) {
        std::fprintf(err, "ksspeech: %s\n", Trim(msg ? msg : "error").c_str());
    }
    return 1;
}
