// tfsg.h: the finite-state grammar graph: words and word lists, arcs,
// states, sub-FSGs (one network per rule variant) and the TFSG that owns a
// whole compilation or a loaded FSG file, with the passes that rewrite them.
//
// Conventions every pass relies on:
//  - entry 0 of a TFSG's `words` is the empty word "" with id 0; an arc whose
//    word has id 0 is a null arc and consumes no input;
//  - entry 0 of `annos` is the no-annotation entry (null text, id 0); every
//    arc carries an annotation word, this one when it has none;
//  - an arc whose target `state` is null leaves its network; with the empty
//    word it is a final arc whose probability is that of ending there;
//  - probabilities are linear single-precision floats; a state's arcs
//    normally sum to 1;
//  - after every Compress a state's id equals its index in `states`;
//  - matching and enumeration follow the stored arc order;
//  - after normalisation words count up from 0, interns down from 0xFFFF,
//    externs continue below the interns, annotations count up from 0.
//
// Inside members of TSubFSG and TFSG the name Copy means TSubFSG::Copy: use
// ::Copy for the string duplication of common.h.
#ifndef KSBNFC_TFSG_H
#define KSBNFC_TFSG_H

#include "common.h"

#include <cstdint>
#include <memory>
#include <functional>
#include <string>
#include <vector>

typedef float prob;

// Repetition operator of an arc; stored in one byte and compared numerically.
enum Op : unsigned char { OpNone = 0, OpOpt = 1, OpPlus = 2, OpStar = 3 };

class TWord;
class TWordList;
class TArc;
class TState;
class TSubFSG;
class TFSG;
class TFSGDictionary;
class TByteChannel;    // what an FSG file is read from or written to
class TMix;            // a weighted set of states (determinisation)
class SubStrsHandler;  // results of the sub-string search
class TInputWords;     // the input words of one match or search (tfsg_arcindex.h)

// tfsg_substrs.cpp: one stretch of TFSG::SubStrsOnce: first and last word
// index and the best probability of its paths.
struct TStretch {
    int start, end;
    double prob;
};

struct TArcIndex;      // tfsg_match.cpp: a state's arcs by word class
struct TArcIndexFree {
    void operator()(TArcIndex* x) const;
};
struct TWordIndex;     // tfsg_match.cpp: a grammar's word classes
struct TWordIndexFree {
    void operator()(TWordIndex* x) const;
};

// One entry of a word list. The word and its text live in the arena of the
// list that made it and go with the list, never on their own: a grammar of
// 65,000 words would otherwise spend a fifth of its time in the allocator.
class TWord {
public:
    enum Kind { Word = 0, Intern = 1, Extern = 2, Anno = 3 };

    mbstring word; // the list's copy; null only for the no-annotation entry
    int id;
    Kind kind;
    TWord* copy;   // next duplicate of this word (AddDuplicateWords), or null

    TWord(char* text, int id, Kind kind) : word(text), id(id), kind(kind), copy(nullptr) {}
    TWord(const TWord&) = delete;
    TWord& operator=(const TWord&) = delete;
    static void operator delete(void*) = delete;

    // Byte-wise text equality; a null text equals only a null text.
    int operator==(mbstring text) const;
};

// An owning list of words with a text-to-index map. A word added at index i
// by Add(text) gets id base + i and the list's kind.
class TWordList : public TArray<TWord*> {
public:
    int base;
    TWord::Kind kind;
    TMap map; // text -> index of the first word with that text (after Sort: the last)
    TArena arena; // the words and their texts

    TWordList(int base, TWord::Kind kind);

    // Appends a new word even when the text is already present; look-ups keep
    // finding the first word with that text.
    TWord* Add(mbstring text);
    // Puts a word at index i (growing the list). An occupied index gets the
    // new text and must already carry id, else "id changed (id %d w->id %d)".
    TWord* Add(int i, mbstring text, int id);
    // A null text gives the word at index 0. Otherwise the first word with that
    // text; if there is none, Add(text) when add is set, else null with the
    // list untouched.
    TWord* Lookup(mbstring text, int add);
    // Orders the words by text, then id, and re-points the map; ids stay.
    void Sort();
};

// An arc of a network. Owned by its source state, allocated from the arc pool
// of the state's network (TState::AddArcX makes arcs, TSubFSG::FreeArc takes
// them back); owns nothing.
class TArc {
public:
    TState* state;      // target, or null: the arc leaves the network
    TWord* word;        // label, from one of the owning TFSG's word lists
    TWord* anno;        // annotation, from `annos`; never null
    prob p;
    Op op;
    unsigned char needtr; // the arc's item takes part in the translation

    // Same word, annotation and target objects, same needtr and op and,
    // unless ignore_p, exactly the same probability.
    int eq(TArc* b, int ignore_p);

    static void* operator new(size_t) = delete;
    static void operator delete(void*) = delete;
};

// The arcs of one network: blocks of arcs with a free list, so that an arc
// costs its 32 bytes (20 on 32-bit x86) and no allocation of its own; a
// grammar with millions of arcs would otherwise spend much of its time and a
// third of its memory in the allocator. The blocks go with the pool.
class TArcPool {
public:
    TArcPool() : blocks(nullptr), free_list(nullptr), next(nullptr), left(0), grow(4) {}
    ~TArcPool();
    TArcPool(const TArcPool&) = delete;
    TArcPool& operator=(const TArcPool&) = delete;

    // Storage for one arc; the caller constructs it.
    TArc* New()
    {
        if (free_list) {
            TArc* a = reinterpret_cast<TArc*>(free_list);
            free_list = free_list->next;
            return a;
        }
        if (!left) Refill();
        left--;
        return next++;
    }
    void Free(TArc* a)
    {
        Slot* f = reinterpret_cast<Slot*>(a);
        f->next = free_list;
        free_list = f;
    }
    // Takes over every block of other, with the arcs in them; other is left
    // empty. For states that change network.
    void Take(TArcPool& other);
    // Makes the next n New() calls, while no freed arc waits, give consecutive
    // arcs of one block, allocating a block of exactly n when the newest one
    // has less room left: the reader knows its arc counts, and a state's arcs
    // then lie side by side in stored order.
    void Reserve(size_t n);

private:
    struct Block {
        Block* prev;
    };
    union Slot {
        Slot* next;
        TArc arc;
    };
    Block* blocks;
    Slot* free_list;
    TArc* next; // unused part of the newest block
    size_t left;
    size_t grow;

    void Refill();
    void Allocate(size_t n);
};

// A state of a network; owns its outgoing arcs.
class TState {
public:
    // The fields that moving a state into another network resets come first,
    // in one cache line: a chain of nested rules moves the states below it
    // at every level.
    TSubFSG* sub;          // the network owning the state
    int id;
    TMix* mix;             // set only during determinisation
    int flag;              // scratch of the passes (counts, marks)
    TState* optimized;     // representative from the last state merging
    TState* copy;          // counterpart while a network is being copied
    // tfsg_match.cpp: the arcs by word class, built with the grammar's word
    // index (BuildMatchIndex); matching ignores it once the arcs change.
    std::unique_ptr<TArcIndex, TArcIndexFree> match_index;
    TArray<TArc*> arcs;

    explicit TState(TSubFSG* sub);
    ~TState();
    TState(const TState&) = delete;
    TState& operator=(const TState&) = delete;

    // tfsg.cpp: building. The texts are looked up (added if new) in the owning
    // TFSG's words / externs / interns and annos; a null annotation text gives
    // the no-annotation entry.
    TArc* AddArc(TState* to, float p, mbstring word, mbstring anno, Op op);
    TArc* AddExternArc(TState* to, float p, mbstring word, mbstring anno, Op op);
    TArc* AddInternArc(TState* to, float p, mbstring word, mbstring anno, Op op);
    TArc* AddNullArc(TState* to, float p, mbstring anno);
    // Appends an arc; null word / anno mean the empty word / no annotation.
    // An arc into a state clears that network's `normalized`.
    TArc* AddArcX(TState* to, float p, TWord* word, TWord* anno, Op op);
    // Deletes arcs i .. i+n-1 and closes the gap, keeping the order.
    void DelArcs(int i, int n);
    // Probability of ending here, read from the first arc only (arcs sorted):
    // its p if it is a null arc, else 0. A state without arcs gives 0.
    prob Accepting();
    // The same for a target that may be null (the end, probability 1).
    static prob Accepting(TState* s) { return s ? s->Accepting() : (prob)1.0; }

    // tfsg_annotations.cpp
    void AddArcPreAction(TArc* a, mbstring action);
    void AddArcPostAction(TArc* a, mbstring action);
    void MergeArcActions(TArc* a, mbstring x, mbstring y);

    // tfsg_nullarcs.cpp
    void AddArcsFromState(TState* from, float p, mbstring action);

    // tfsg_probs.cpp
    void NormalizeArcProbabilities();

    // tfsg_optimize.cpp. The member forms need a state; the static forms
    // accept the null target of an arc that leaves the network.
    unsigned long Key();
    int operator==(TState& other);
    TState* Optimize();
    void Reachable();
    static TState* Optimize(TState* s) { return s ? s->Optimize() : nullptr; }
    static void Reachable(TState* s)
    {
        if (s) s->Reachable();
    }
};

// Bounds of a sentence enumeration (TSubFSG::Sentences).
struct TSentenceLimits {
    int max_words = 20; // arcs per sentence, besides the one that ends it
    int words_only = 0; // max_words counts words: null arcs and calls are free
    int max_loops = 1;  // times a state may be on the path within one call
    int full = 1;       // 0: only the first arc from a state to each target
    int anno = 0;       // WORD:ANNOTATION
};
// What an enumeration found and what its limits left out.
struct TSentenceReport {
    long sentences = 0;
    long words_cut = 0;       // arcs not taken: the path had max_words arcs
    long loops_cut = 0;       // states not entered again: max_loops
    long arcs_skipped = 0;    // arcs not taken: full = 0
    long externs_missing = 0; // extern calls whose grammar is not loaded
};

// One network: the compiled form of a rule variant. Reference counted; owns
// its states.
class TSubFSG : public TCounted {
public:
    // Probability policy of a TFSG.
    enum Eq { EqNorm = 0, EqArcProb = 1, EqSentProb = 2 };

    // An open sub-grammar call during matching: the calling arc, whether
    // annotations inside go to the action list, the enclosing call, and the
    // grammar that made the call (where the walk continues after the called
    // grammar ends, with that grammar's intern sub-FSGs; null: the grammar
    // the walk is running on).
    struct Ctx {
        TArc* arc;
        int needtr;
        Ctx* next;
        TFSG* fsg = nullptr;
    };

    int intern;                  // references stay references (not inlined)
    mbstring name;               // heap copy
    TArray<TState*> states;      // index 0 is the initial state
    THashTable<TMix>* mixes;     // only during determinisation
    THashTable<TState>* opts;    // only during state merging
    TFSG* fsg;                   // owner of the word lists; a TFSG points to itself
    int normalized;
    int nextid;                  // id of the next new state
    TArcPool arcpool;            // the arcs of the states
    int busy;                    // under expansion or recursion check
    TSubFSG* rlist_next;         // tail-reference chain of the recursion check
    int pass;                    // last expansion pass completed
    int settled;                 // pass in which a re-walk would change nothing
    // References to this network that expansion has still to replace by a
    // copy, x+ and x* counting as the two that expanding the operator makes;
    // when the last one is replaced the states are freed. -1: the states
    // stay (root, intern, recursive).
    int uses;

    // Starts with its initial state (id 0).
    TSubFSG(mbstring name, TFSG* fsg);
    virtual ~TSubFSG();
    TSubFSG(const TSubFSG&) = delete;
    TSubFSG& operator=(const TSubFSG&) = delete;

    // tfsg_print.cpp: listing; nothing when v <= 0.
    virtual void Print(int v, const char* title);
    // tfsg_normalize.cpp: the per-network part of normalisation.
    virtual void Normalize();

    // tfsg.cpp
    TState* AddState();
    void FreeArc(TArc* a) { arcpool.Free(a); }
    TState* Initial();
    void ClearStateFlags();
    // Trace lines on KsListing() (when dbglevel asks), flushed always.
    void Enter(const char* what);
    void Exit(const char* what);
    void Stats(const char* tag, const char* what, int print);

    // tfsg_nullarcs.cpp
    void EliminateNullArcs();

    // tfsg_determinize.cpp
    TState* GetMix(TMix* m);
    void EliminateDuplicateArcs();
    // Before EliminateNullArcs: whether that and EliminateDuplicateArcs are
    // sure to build more than limit mixtures. Counts only on a network
    // whose arcs would number more than kMixCountArcs once null arcs are
    // gone; false wherever it cannot tell.
    bool MixturesBeyond(long limit);

    // tfsg_annotations.cpp
    int PropagateAnnotations();

    // tfsg_optimize.cpp
    void Reachable();
    void Compress();
    void Optimize();

    // tfsg_initial.cpp
    void EngineBug();

    // tfsg_expand.cpp
    void Copy(TSubFSG* to, TState* initial, TState* final_state, mbstring action, prob p);
    void Expand(int p);
    void ExpandOps();
    // Visits each network reachable from this one once. Throws "illegal
    // recursive use of %s" for a cycle of references that is not made of
    // tail references only, and sets `uses` of every network it visits.
    // Started on the grammar itself (this == fsg) it also throws the
    // writer's "more than 64K states" when a network to be written is
    // certain to get more states than a file can number.
    void CheckRecursion(TSubFSG* rlist);

    // tfsg_probs.cpp
    void NormalizeArcProbabilities();
    void EqualizeArcProbabilities();
    void EqualizeSentenceProbabilities();
    int EqualizeSentenceProbabilities(TState* s);
    void UniformArcWeights(float w);

    // tfsg_normalize.cpp
    void AddDuplicateWords();
    int DeleteAmbiguousArcs();

    // tfsg_write.cpp
    int InternLength(int with_annos);
    void WriteIntern(TByteChannel& out, int with_annos);

    // tfsg_read.cpp
    void ReadIntern(TByteChannel& in, int dbg, int with_annos);

    // tfsg_print.cpp. Enumerate prints the sentences that Sentences finds,
    // with their probabilities when showpr is set. The second form walks
    // this network alone, its calls taken as words: full = 0 follows only the
    // first arc to each target, max_loops bounds how often a state may be on
    // the path, max_words the number of arcs taken. It starts at
    // s with the sentence so far between start and end; start must be a
    // buffer of kSentenceMax bytes. A sentence that would not fit is an error.
    enum { kSentenceMax = 10000 };
    void Enumerate(int anno, int showpr, int full, int max_loops, int max_words);
    void Enumerate(TState* s, char* start, char* end, float p, int anno, int showpr, int full,
                   int max_loops, int max_words);
    // tfsg_sentences.cpp. Sentences passes every sentence the grammar
    // accepts, depth first in arc order, to emit with the probability of its
    // path; the text is each word followed by a blank (WORD:ANNOTATION with
    // anno). Calls of intern networks and of loaded extern grammars are
    // followed into them; an extern that is not loaded ends the paths through
    // it. The limits bound the arcs of a path (the arc that ends the sentence
    // is always taken), or its words, and how often a state may be on it
    // within one call; full = 0 takes only the first arc from
    // a state to each target. Report counts what the limits left out.
    void Sentences(const TSentenceLimits& limits, TSentenceReport& report,
                   const std::function<void(const std::string&, double)>& emit);
    // One random walk from the initial state; appends each arc's word text
    // (and annotation text, when annos is given) and returns the path's
    // probability. Stops early at a state without arcs.
    float Random(TStringList* words, TStringList* annos);
};

// Where rule references are resolved during expansion. GetFSG(name, needtr,
// null) returns the sub-FSG compiled for the rule, in its translation variant
// when needtr is set, the same object for the same name and variant during
// one compilation. Deleting through this interface is not allowed.
class TFSGDictionary {
public:
    virtual TSubFSG* GetFSG(mbstring name, int needtr, TFSG* fsg) = 0;
    // The root `name` compiled again as an intern network, for the intern
    // networks that refer back to the root: the same object for the same
    // variant during one compilation (made on the first call when `make` is
    // set); null where there is none.
    virtual TSubFSG* GetRootTwin(mbstring, int, bool) { return nullptr; }
    // For messages: where the network `from` refers to `name` (empty when
    // that is not known).
    virtual TPlace ReferencePlace(mbstring, mbstring) { return TPlace(); }

protected:
    ~TFSGDictionary() = default;
};

// tfsg_determinize.cpp: one weighted member of a mixture; a null state stands
// for the end of the network.
struct TMixState {
    prob p;
    TState* state;
};

// A weighted set of states that determinisation merges into one new state.
// Member of the network's `mixes` set, keyed by the member states (weights
// are not part of the identity).
class TMix : public TArrayX<TMixState> {
public:
    TState* state; // the state built for this mixture, null until GetMix

    TMix() : state(nullptr) {}

    // Appends (p, s); a mixture state contributes its own members scaled by p.
    void Add(TState* s, prob p);
    // Orders the members by state id (the end counts as 100000) and merges
    // members of the same state, summing their weights.
    void Sort();
    int operator==(TMix& other);
    unsigned long Key();
};
template <> int TArrayX<TMixState>::compare(const TMixState& a, const TMixState& b);

// File header of an FSG file as held in memory. The writer and reader
// transfer it field by field in little-endian order (64 bytes on file).
struct FSGhdr_ {
    int32_t lEngineData;
    int32_t lPrivateData;
    char version[8];
    int32_t lHeader;
    int32_t nSections;
    int32_t lParameters;
    int32_t nParameters;
    int32_t lInterns;
    int32_t nInterns;
    int32_t lExterns;
    int32_t nExterns;
    int32_t lWords;
    int32_t nWords;
    int32_t lPools;
    int32_t nPools;
};

// Private header of an FSG file (24 bytes on file), in memory only.
struct FSGprivate_ {
    char Signature[8];
    int32_t AnnotOffset;
    int32_t AnnotSize;
    int32_t WcisOffset;
    int32_t WcisSize;
};

// The code-page record: 8 bytes right after the annotation area, inside the
// private area (counted in lPrivateData): the tag "KSCP" and the code page as
// int32. Written for UTF-8 (65001) grammars only; a file without it is in
// the code page of the process that loads it, as it always was.
const char kCodePageTag[4] = {'K', 'S', 'C', 'P'};
const int kCodePageRecordSize = 8;

// A whole grammar: the root network plus the word lists shared by all of
// its networks and the intern sub-FSGs it carries.
class TFSG : public TSubFSG {
public:
    int flags;          // phrase flags, the file's one parameter
    int codepage;       // 0: not chosen yet
    int use_null_arcs;
    Eq eq;
    float scale;        // 256 / ln 10, the log-probability scale of files
    TFSGDictionary* dictionary; // not owned
    TWordList words;    // base 0, Word; [0] is ""
    TWordList externs;  // base 50000, Extern
    TWordList annos;    // base 0, Extern; [0] is the no-annotation entry
    TWordList interns;  // base 40000, Intern
    TWordList with;     // base 20000, Intern
    TWordList without;  // base 30000, Intern
    TArray<TSubFSG*> intern_fsgs; // each holds one counted reference
    // tfsg_match.cpp: the word classes and code page matching reads; built
    // by the reader (BuildMatchIndex), null for a grammar built in memory.
    std::unique_ptr<TWordIndex, TWordIndexFree> word_index;
    FSGhdr_ fh;
    FSGprivate_ ph;

    // tfsg.cpp: construction and destruction
    TFSG(mbstring name, Eq eq);
    ~TFSG() override;

    // tfsg_print.cpp: the main grammar, each intern sub-FSG, then at v > 1
    // the shared word, extern and annotation tables.
    void Print(int v, const char* title) override;
    // One random sentence of the whole grammar: from each state an arc drawn
    // by its probability (the draw of TSubFSG::Random), intern calls followed
    // into the calling grammar's networks and calls of loaded extern grammars
    // into them; a call of an extern not loaded stays its bracketed name,
    // which is what matches it then. Appends the words and returns the path's
    // probability. A state without arcs, or a walk of more than
    // kRandomMaxArcs arcs, is an error.
    enum { kRandomMaxArcs = 100000 };
    double RandomSentence(std::vector<std::string>& words);

    // tfsg_normalize.cpp
    void Normalize() override;
    void Compile(TFSGDictionary* dictionary, int use_null_arcs, int annotations);
    void Flags(int flags);
    void CodePage();
    void CodePage(int n);

    // tfsg_write.cpp. WriteFile leaves no file behind when it fails;
    // WriteBytes puts into bytes (emptied first) what WriteFile would write,
    // and leaves it empty when it fails. WriteFileX writes to out, positioned
    // at 64, the sections, then the header at 0.
    void WriteFile(const char* path);
    void WriteBytes(std::string& bytes);
    void WriteFileX(TByteChannel& out);
    int prob2logp(float p);
    float logp2prob(int l);

    // tfsg_read.cpp. With dbg the reader lists on KsListing() what it reads.
    // ReadBytes reads a file's bytes held in memory, naming the grammar's
    // `name` in its messages where ReadFile names the path; ReadFrom reads
    // the file from the start of `in`, naming it fn.
    void ReadFile(const char* fn, int dbg);
    void ReadBytes(const char* data, size_t size, int dbg);
    void ReadFrom(TByteChannel& in, const char* fn, int dbg);
    static TFSG* Extern(const char* name, const char* filename);
    void LoadExterns(const char* fn, int dbg);
    // Extern with the file's bytes in memory (see ReadBytes) in place of the file.
    static TFSG* ExternBytes(const char* name, const std::string& bytes);

    // tfsg_match.cpp
    double Match(TStringList& words, TStringList* tags, mbstring& out, int* prefix);
    double Match(TStringList& words, TStringList* tags, TStringList& annos, int* prefix);
    double Match(TStringList& words, TStringList* tags, int tr, int* prefix);
    double Match(TStringList& input, TStringList* vocabs, int in, double pin, TState* state,
                 TSubFSG::Ctx* ctx, TStringList* output, int* prefix);
    void add(TStringList& output, TSubFSG::Ctx* ctx, mbstring text);
    void remove(TStringList& output, TSubFSG::Ctx* ctx);

    // tfsg_substrs.cpp
    void SubStrs(TStringList& input, SubStrsHandler* handler, int start_index, int position,
                 double prob, TState* state, TSubFSG::Ctx* ctx);
    // Every stretch of the input that the grammar accepts, once, with the
    // best probability of its paths: the latest start first, and the ends of
    // one start in the reverse of the order in which SubStrs first records
    // them. Each start costs one walk over the configurations reachable from
    // it and, where paths merge, one pass over them position by position.
    // More than kMaxSubStrs stretches is an error.
    void SubStrsOnce(TStringList& input, std::vector<TStretch>& found);

private:
    // The ends from one start in the order SubStrs first records them, and
    // their best probabilities (best by end + 1; seen_end and best come
    // cleared and are left written at the ends in order).
    void SubStrsFrom(TInputWords& words, int n, int start, std::vector<char>& seen_end, std::vector<double>& best,
                     std::vector<int>& order);
};

// tfsg.cpp: how every walk over a grammar (matching, the sub-string search,
// the sentence enumeration, random sentences) takes a call arc, decided here
// once so that they agree. A call enters `start`, the initial state of
// network `net`, whose own intern calls are those of grammar `g`; when that
// network ends, the walk goes on at the arc's target in the calling grammar.
// A call of an extern grammar that is not loaded enters nothing: it stands
// for one input word, `word` (the extern's bracketed name), which an input
// word matches by its text or, with the matcher's vocabulary tags, by its
// tag; a random sentence takes that word, the sentence enumeration ends
// its paths there.
struct TCallee {
    TFSG* g = nullptr;
    TSubFSG* net = nullptr;
    TState* start = nullptr;    // null: nothing is entered
    const char* word = nullptr; // an extern that is not loaded: the word it stands for
};
// Arc a of a network of grammar g: an intern call enters g's intern network
// numbered by the arc's word id (one missing or without states is the error
// "Can't open an intern fsg: %d!\n"), an extern call the grammar loaded under
// the extern's name (TFSG::Extern). Any other arc enters nothing and stands
// for no word.
TCallee CallOf(TFSG* g, const TArc* a);

// Orderings of TArrayX::Sort / Sort2 (tfsg.cpp). Arcs: compare by word id,
// annotation id, target id (no target counts as 1000000); compare2 by word
// id, target id, then equal annotation ids as equal, else higher p first.
// Words: byte-wise text, then id.
template <> int TArrayX<TArc*>::compare(TArc* const& a, TArc* const& b);
template <> int TArrayX<TArc*>::compare2(TArc* const& a, TArc* const& b);
template <> int TArrayX<TWord*>::compare(TWord* const& a, TWord* const& b);

// tfsg_normalize.cpp: maps each byte of s in place through table.
void Convert(char* s, const unsigned char* table);

// tfsg_write.cpp: the ids of words, externs, annotations and the states of
// one network share a 16-bit field; the last few values are kept free.
const int kMaxIds = 65530;
// Arcs a network without null arcs would have, above which it counts its
// mixtures first (TSubFSG::MixturesBeyond); a count goes through at most
// kMixCountVisits states and arcs.
const long kMixCountArcs = 1000000;
const long kMixCountVisits = 400000000;

// The bytes of an FSG file: an open file descriptor (not owned) or a
// buffer in memory, with a position that reads and writes move. A failing
// system call raises its system text.
class TByteChannel {
public:
    explicit TByteChannel(int f) : fd(f), data(nullptr), size(0), out(nullptr), pos(0) {}
    // Reads data[0, size), which must outlive the channel.
    TByteChannel(const char* bytes, size_t n) : fd(-1), data(bytes), size(n), out(nullptr), pos(0) {}
    // Writes into *out: a write past its end extends it, over a gap with
    // zero bytes, up to the 2 GB a file can hold.
    explicit TByteChannel(std::string* to) : fd(-1), data(nullptr), size(0), out(to), pos(0) {}

    // tfsg_read.cpp. Read gives up to len bytes, 0 at the end.
    size_t Read(void* buf, size_t len);
    long long Size();
    long long Tell();
    void Seek(long long to);
    // tfsg_write.cpp: all len bytes, or an error.
    void Write(const void* buf, size_t len);

private:
    int fd;
    const char* data;
    size_t size;
    std::string* out;
    long long pos; // in memory
};

// tfsg_write.cpp: whether f has more words and externs than a file can number. Neither list
// shrinks before writing, so once true it stays true.
bool TooManyWordsAndExterns(TFSG* f);
extern const char kTooManyWordsAndExterns[];

// tfsg_read.cpp
void Flag(char* buf, int flags, int f, const char* s);

// tfsg_match.cpp: builds the word classes of g in its code page and the
// arc index of every state of g and of its intern networks that has enough
// arcs to need one. Done by the reader, so that matching only reads the
// grammar; a grammar without it is matched by comparing texts.
void BuildMatchIndex(TFSG* g);

// tfsg_match.cpp: listing switches of the printing Match.
extern int print_all;
extern int print_tr;
extern int print_num;

// tfsg_substrs.cpp: one accepted stretch: first and last word index and the
// probability of its path; `pre` is the result recorded before it.
struct MySubStrTuple {
    int start_index;
    int end_index;
    double prob;
    MySubStrTuple* pre;
};

// The most results one search may hold; the result that would pass it is an
// error. A long input against a looping grammar has a result for nearly
// every pair of positions: quadratic, gigabytes for 100,000 words.
const long kMaxSubStrs = 1000000;

// The results of a sub-string search, read back newest first. Owns its
// tuples; they die with the handler.
class SubStrsHandler {
public:
    MySubStrTuple* head;    // first recorded
    MySubStrTuple* tail;    // last recorded
    MySubStrTuple* current; // next returned by getNext
    long count;             // results recorded

    SubStrsHandler() : head(nullptr), tail(nullptr), current(nullptr), count(0) {}
    ~SubStrsHandler();
    SubStrsHandler(const SubStrsHandler&) = delete;
    SubStrsHandler& operator=(const SubStrsHandler&) = delete;

    // Records a result and makes it the next one getNext returns; the one
    // past kMaxSubStrs is an error instead.
    void add(int start, int end, double prob);
    // The current result (null when none is left); moves to the one before.
    MySubStrTuple* getNext();
};

#endif // KSBNFC_TFSG_H
