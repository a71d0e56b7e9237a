// fsg_export.cpp: the three writers of a flattened FSG (recogniser text
// FSG, finite-state acceptor with symbol table, Graphviz drawing), fed one
// source state's arcs at a time, and the entry points that load, flatten
// and write as the arcs are made.
#include "fsg_flatten.h"

#include "ksbnfc_inner.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace ksexport {
namespace {

std::string Num(const char* fmt, double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

bool HasSpace(const std::string& word)
{
    return word.find_first_of(" \t\r\n\v\f") != std::string::npos;
}

// A word of the recogniser's text FSG: a quoted multi-word token such as
// "two words" is written in its double quotes; an empty word, one with a
// line end, or one with both white space and a double quote can't be.
std::string Token(const std::string& word)
{
    if (!HasSpace(word) && !word.empty()) return word;
    if (word.empty() || word.find_first_of("\r\n\"") != std::string::npos)
        throw Error("the word '" + word + "' can't be written as one sphinx token");
    return "\"" + word + "\"";
}

// The toolkit's symbol of a word: a symbol holds no white space, so each
// white-space character of a multi-word token becomes '_'.
std::string Symbol(const std::string& word)
{
    if (word.empty()) throw Error("the empty word can't be an openfst symbol");
    std::string s = word;
    for (char& c : s)
        if (std::strchr(" \t\r\n\v\f", c)) c = '_';
    return s;
}

std::string SafeName(const std::string& name)
{
    std::string n = name.empty() ? "grammar" : name;
    for (char& c : n)
        if (std::strchr(" \t\r\n\v\f\"", c)) c = '_';
    return n;
}

// Text on its way to a sink in pieces of about 64 KB; a piece that would
// take the total past `max` bytes is an Error and is not put.
class Out {
public:
    Out(Sink& sink, size_t max) : sink_(sink), max_(max) {}

    Out& operator<<(const std::string& s)
    {
        buf_ += s;
        return *this;
    }
    Out& operator<<(const char* s)
    {
        buf_ += s;
        return *this;
    }
    Out& operator<<(int n) { return *this << std::to_string(n); }

    void Spill()
    {
        if (buf_.size() >= 65536) Flush();
    }
    void Flush()
    {
        if (buf_.size() > max_ - total_)
            throw Error("the output would be larger than " + std::to_string(max_) +
                        " bytes (--max-bytes sets the bound)");
        sink_.Put(buf_.data(), buf_.size());
        total_ += buf_.size();
        buf_.clear();
    }

private:
    Sink& sink_;
    size_t max_;
    size_t total_ = 0;
    std::string buf_;
};

// A format's writer, fed the flattened network: Begin before anything, then
// for each part written its state lines, each source state's arcs in
// ascending order, its end. Begin throws every fault of the texts, so that
// nothing is put before it.
class Writer {
public:
    Writer(const Graph& shape, Out& out) : g_(shape), out_(out) {}
    virtual ~Writer() = default;
    virtual bool AllParts() const { return false; }
    virtual void Begin() {}
    virtual void BeginPart(size_t) {}
    virtual void State(const Arc* arcs, size_t n) = 0;
    virtual void EndPart(size_t) {}
    virtual void End() {}

protected:
    const Graph& g_;
    Out& out_;
};

// Probabilities are linear; a state whose stored (rounded) log-probabilities
// add up to more than 1 is scaled down so that they sum to at most 1.
class Sphinx : public Writer {
public:
    // Part 0 uses words [0, main_words).
    Sphinx(const Graph& shape, Out& out, const std::string& name, size_t main_words)
        : Writer(shape, out), name_(name), main_words_(main_words)
    {
    }

    void Begin() override
    {
        for (size_t i = 0; i < main_words_; i++) tokens_.push_back(Token(g_.words[i]));
        const Part& part = g_.parts.at(0);
        out_ << "FSG_BEGIN " << SafeName(name_) << "\n";
        out_ << "NUM_STATES " << part.count << "\n";
        out_ << "START_STATE " << part.start - part.first << "\n";
        out_ << "FINAL_STATE " << part.final_state - part.first << "\n";
    }

    void State(const Arc* arcs, size_t n) override
    {
        const Part& part = g_.parts[0];
        double sum = 0;
        for (size_t i = 0; i < n; i++) sum += arcs[i].p;
        double scale = sum > 1 ? (1 - 1e-7) / sum : 1;
        for (size_t i = 0; i < n; i++) {
            const Arc& a = arcs[i];
            out_ << "TRANSITION " << a.from - part.first << " " << a.to - part.first << " " << Num("%.8g", a.p * scale);
            if (a.word >= 0) out_ << " " << tokens_[(size_t)a.word];
            out_ << "\n";
            out_.Spill();
        }
    }

    void End() override
    {
        out_ << "FSG_END\n";
        out_.Flush();
    }

private:
    std::string name_;
    size_t main_words_;
    std::vector<std::string> tokens_;
};

std::string Weight(double p)
{
    return p >= 1 ? "0" : Num("%.9g", -std::log(p));
}

// Null arcs into the final state become final weights of their source, so
// a grammar without null arcs inside gives an epsilon-free acceptor. The
// symbols are numbered in byte order of the words: two builds of the same
// vocabulary get the same table and can be compared label by label.
class OpenFst : public Writer {
public:
    OpenFst(const Graph& shape, Out& out, std::string* symbols) : Writer(shape, out), symbols_(symbols) {}

    void Begin() override
    {
        if (!symbols_) throw Error("the openfst format needs a place for its symbol table");
        for (const std::string& w : g_.words) {
            if (w == "<eps>") throw Error("the word '<eps>' is the acceptor's empty label");
            symbol_.push_back(Symbol(w));
        }
        order_.resize(g_.words.size());
        for (size_t i = 0; i < order_.size(); i++) order_[i] = i;
        std::sort(order_.begin(), order_.end(), [&](size_t a, size_t b) { return symbol_[a] < symbol_[b]; });
        for (size_t i = 1; i < order_.size(); i++)
            if (symbol_[order_[i]] == symbol_[order_[i - 1]])
                throw Error("the words '" + g_.words[order_[i - 1]] + "' and '" + g_.words[order_[i]] +
                            "' would both be the openfst symbol '" + symbol_[order_[i]] + "'");
    }

    void State(const Arc* arcs, size_t n) override
    {
        const Part& part = g_.parts[0];
        double final_p = 0;
        for (size_t i = 0; i < n; i++) {
            const Arc& a = arcs[i];
            if (a.word < 0 && a.to == part.final_state) {
                final_p += a.p;
                continue;
            }
            if (a.to == part.final_state) final_entered_ = true;
            out_ << a.from - part.first << " " << a.to - part.first << " "
                 << (a.word < 0 ? std::string("<eps>") : symbol_[(size_t)a.word]) << " " << Weight(a.p) << "\n";
            out_.Spill();
        }
        if (final_p > 0) out_ << arcs[0].from - part.first << " " << Weight(final_p) << "\n";
    }

    void End() override
    {
        const Part& part = g_.parts[0];
        if (final_entered_) out_ << part.final_state - part.first << "\n";
        out_.Flush();
        *symbols_ = "<eps> 0\n";
        for (size_t i = 0; i < order_.size(); i++) *symbols_ += symbol_[order_[i]] + " " + std::to_string(i + 1) + "\n";
    }

private:
    std::string* symbols_;
    std::vector<std::string> symbol_;
    std::vector<size_t> order_;
    bool final_entered_ = false;
};

// A double-quoted Graphviz string; & starts an entity there.
std::string Quote(const std::string& s)
{
    std::string q = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') q += '\\';
        if (c == '\n') {
            q += "\\n";
            continue;
        }
        if (c == '&') {
            q += "&amp;";
            continue;
        }
        q += c;
    }
    return q + "\"";
}

class Dot : public Writer {
public:
    Dot(const Graph& shape, Out& out, const std::string& name) : Writer(shape, out), name_(name) {}

    bool AllParts() const override { return true; }

    void Begin() override
    {
        if (g_.parts.empty()) throw Error("empty graph");
        out_ << "digraph " << Quote(SafeName(name_)) << " {\n";
        out_ << "  rankdir=LR;\n";
        // Texts of single-byte code pages are not UTF-8.
        if (g_.codepage != 65001) out_ << "  charset=\"latin1\";\n";
        out_ << "  node [shape=circle, fontsize=10];\n  edge [fontsize=9];\n";
        clusters_ = g_.parts.size() > 1;
        indent_ = clusters_ ? "    " : "  ";
    }

    void BeginPart(size_t k) override
    {
        const Part& part = g_.parts[k];
        if (clusters_) out_ << "  subgraph cluster_" << (int)k << " {\n    label=" << Quote(part.name) << ";\n";
        out_ << indent_ << "start" << (int)k << " [shape=point];\n";
        out_ << indent_ << "start" << (int)k << " -> " << part.start << ";\n";
        for (int s = part.first; s < part.first + part.count; s++) {
            out_ << indent_ << s << " [label=\"" << s - part.first << "\""
                 << (s == part.final_state ? ", shape=doublecircle" : "") << "];\n";
            out_.Spill();
        }
    }

    void State(const Arc* arcs, size_t n) override
    {
        for (size_t i = 0; i < n; i++) {
            const Arc& a = arcs[i];
            std::string label = a.word < 0 ? "" : g_.words[(size_t)a.word];
            label += " " + Num("%.3g", a.p);
            if (a.anno >= 0) label += "\n" + g_.annos[(size_t)a.anno];
            std::string q = Quote(label);
            // An empty word shows as epsilon (an entity, so not escaped).
            if (a.word < 0) q.insert(1, "&epsilon;");
            out_ << indent_ << a.from << " -> " << a.to << " [label=" << q << "];\n";
            out_.Spill();
        }
    }

    void EndPart(size_t) override
    {
        if (clusters_) out_ << "  }\n";
    }

    void End() override
    {
        out_ << "}\n";
        out_.Flush();
    }

private:
    std::string name_;
    bool clusters_ = false;
    const char* indent_ = "  ";
};

// Feeds a writer the groups of arcs of the parts it writes, in order,
// starting and ending each part, those without arcs included.
class Feed {
public:
    explicit Feed(Writer& w, const Graph& shape)
        : w_(w), parts_(w.AllParts() ? shape.parts.size() : std::min<size_t>(1, shape.parts.size())),
          shape_(shape)
    {
        w_.Begin();
        if (parts_) w_.BeginPart(0);
    }

    void State(const Arc* arcs, size_t n)
    {
        while (k_ < parts_ && arcs[0].from >= shape_.parts[k_].first + shape_.parts[k_].count) {
            w_.EndPart(k_);
            if (++k_ < parts_) w_.BeginPart(k_);
        }
        if (k_ < parts_) w_.State(arcs, n);
    }

    void End()
    {
        while (k_ < parts_) {
            w_.EndPart(k_);
            if (++k_ < parts_) w_.BeginPart(k_);
        }
        w_.End();
    }

private:
    Writer& w_;
    size_t parts_;
    const Graph& shape_;
    size_t k_ = 0;
};

std::unique_ptr<Writer> MakeWriter(Format format, const Graph& shape, Out& out, const std::string& name,
                                   size_t main_words, std::string* symbols)
{
    switch (format) {
    case Format::Sphinx: return std::unique_ptr<Writer>(new Sphinx(shape, out, name, main_words));
    case Format::OpenFst: return std::unique_ptr<Writer>(new OpenFst(shape, out, symbols));
    case Format::Dot: return std::unique_ptr<Writer>(new Dot(shape, out, name));
    }
    throw Error("unknown format");
}

class StringSink : public Sink {
public:
    explicit StringSink(std::string& to) : to_(to) {}
    void Put(const char* data, size_t size) override { to_.append(data, size); }

private:
    std::string& to_;
};

std::string BaseName(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    std::string b = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = b.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? b : b.substr(0, dot);
}

} // namespace

bool ParseFormat(const std::string& name, ksexport::Format* format)
{
    if (name == "sphinx") *format = Format::Sphinx;
    else if (name == "openfst") *format = Format::OpenFst;
    else if (name == "dot") *format = Format::Dot;
    else return false;
    return true;
}

void Export(const ksbnfc::Grammar& g, Format format, const Options& options, Sink& text, std::string* symbols)
{
    std::string name = options.name.empty() ? BaseName(options.source) : options.name;
    Out out(text, options.max_bytes);
    Flattening f(g, options);
    if (f.Count()) {
        std::unique_ptr<Writer> w = MakeWriter(format, f.Shape(), out, name, f.MainWords(), symbols);
        Feed feed(*w, f.Shape());
        f.Walk(w->AllParts(), [&](const Arc* arcs, size_t n) { feed.State(arcs, n); });
        feed.End();
        return;
    }
    // A fault that the walk reports as it meets it: the network is made
    // whole first, so that the fault comes before any output.
    Graph whole = f.Whole();
    size_t main_words = 0;
    const Part& main = whole.parts.at(0);
    for (const Arc& a : whole.arcs)
        if (a.from < main.first + main.count) main_words = std::max(main_words, (size_t)(a.word + 1));
    std::unique_ptr<Writer> w = MakeWriter(format, whole, out, name, main_words, symbols);
    Feed feed(*w, whole);
    for (size_t i = 0, j; i < whole.arcs.size(); i = j) {
        for (j = i + 1; j < whole.arcs.size() && whole.arcs[j].from == whole.arcs[i].from;) j++;
        feed.State(&whole.arcs[i], j - i);
    }
    feed.End();
}

std::string Export(const ksbnfc::Grammar& g, Format format, const Options& options, std::string* symbols)
{
    std::string text;
    StringSink sink(text);
    Export(g, format, options, sink, symbols);
    return text;
}

void ExportFile(Format format, const Options& options, Sink& text, std::string* symbols)
{
    std::unique_ptr<ksbnfc::Grammar> g;
    try {
        g = ksbnfc::Grammar::Load(options.source);
    } catch (const ksbnfc::Failure& e) {
        throw Error(*e.what() ? e.what() : "can't load");
    }
    Export(*g, format, options, text, symbols);
}

} // namespace ksexport
