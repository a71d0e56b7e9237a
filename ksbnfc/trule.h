// trule.h: the grammar model between the BNF parser and rule compilation:
// phrases, rules, rule lists, the dictionary of nonterminals and TGrammar
// (one root, the TFSGDictionary of its FSG), plus the BNF parser TBNFStream
// and the entry of the JSGF front end.
#ifndef KSBNFC_TRULE_H
#define KSBNFC_TRULE_H

#include "common.h"
#include "tfsg.h"

#include <functional>
#include <list>
#include <map>
#include <string>
#include <vector>

class TDictionary;

// A place in a grammar source, for messages; file points into the file
// names of the dictionary (null: not known).
typedef TPlace TSourcePos;

// ---- phrases and rules ----

// One element of a phrase: a word (terminal) or a nonterminal name. Holds its
// own copies of the texts it is given, in the item's own block: a grammar
// has an item for every word it spells out, and one allocation each instead
// of two halves the parser's time in the allocator.
class TPhraseItem {
public:
    mbstring word; // the word, or the nonterminal name with its brackets
    mbstring anno; // annotation text of a terminal; may be null
    unsigned char terminal;
    unsigned char needtr; // translation needed as an argument of the rule's translation
    Op op;
    int line, col; // where a nonterminal was written, in the file of its rule

    // A new item with copies of word and anno; free it with delete.
    static TPhraseItem* Make(mbstring word, mbstring anno, int terminal);
    TPhraseItem(const TPhraseItem&) = delete;
    TPhraseItem& operator=(const TPhraseItem&) = delete;
    // The block is larger than the object, so it must not be freed with the
    // size of one.
    static void operator delete(void* p) { ::operator delete(p); }

private:
    TPhraseItem(char* word, char* anno, int terminal);
};

// Owns its items. The Add operations return the new item so that the parser
// can set its needtr and op.
class TPhrase : public TArray<TPhraseItem*> {
public:
    TPhrase() = default;
    ~TPhrase() { DeleteElements(); }
    TPhraseItem* AddTerminal(mbstring word, mbstring anno);
    TPhraseItem* AddNonterminal(mbstring name);
};

// A slot or an intent that a part of an alternative stands for: the item at
// index `item` of its phrase (`(on | off):state`, `<lights>:@Lights`), or the
// whole alternative for item -1 (`<<lights>>:@Lights = ...`).
struct TTag {
    int item;
    std::string name; // without the '@' of an intent
    bool intent;
};

// One alternative of a rule list.
class TRule {
public:
    TPhrase phrase;
    std::vector<TTag> tags; // in source order
    int dollar;          // the translation was written with "$d" arguments
    float weight;        // relative weight within the rule list, > 0
    mbstring translation; // owned; may be null
    int line, col;       // where the alternative began, for messages
    const char* file;    // the source it was read from (see TSourcePos); may be null

    TRule();
    ~TRule();
    TRule(const TRule&) = delete;
    TRule& operator=(const TRule&) = delete;
    // Replaces the translation by a copy of t (null clears it).
    void Translation(mbstring t);
    void Where(int l, int c)
    {
        line = l;
        col = c;
    }
    // Where the alternative began, for messages.
    TPlace Place() const;

    // trule_compile.cpp
    void Compile(TDictionary* dictionary, int needtr, TSubFSG* sub, float p);
    void DefaultTranslation(TSubFSG* fsg);
};

// The alternatives of one nonterminal, in source order (owned), and the
// sub-FSGs compiled from them, one counted reference per variant.
class TRuleList : public TArray<TRule*> {
public:
    mbstring name;
    TSubFSG* fsg_no_tr;
    TSubFSG* fsg_tr;
    TSubFSG* twin_no_tr; // the root compiled as an intern network (GetRootTwin)
    TSubFSG* twin_tr;
    TSourcePos defined; // where the definition begins

    explicit TRuleList(mbstring name);
    ~TRuleList();
    TRuleList(const TRuleList&) = delete;
    TRuleList& operator=(const TRuleList&) = delete;

    // trule_compile.cpp
    void Compile(TDictionary* dictionary, int needtr, TSubFSG* sub);
};

// ---- dictionaries ----

// One name known to a dictionary. `value` is null for an extern or a name
// that was only referenced so far.
class TDictionaryEntry {
public:
    mbstring name;
    TRuleList* value;
    int referenced;   // used by a rule being compiled
    int defined;      // has rules or was declared extern
    int intermediate; // generated for a group, not written by the user

    explicit TDictionaryEntry(mbstring name);
    ~TDictionaryEntry();
    TDictionaryEntry(const TDictionaryEntry&) = delete;
    TDictionaryEntry& operator=(const TDictionaryEntry&) = delete;
};

// Names to rule lists, entries kept in order of first mention. Reference
// counted: created with count 0, shared by the grammars of one parse; the
// last grammar to drop it destroys it with everything it owns.
class TDictionary : public TArray<TDictionaryEntry*>, public virtual TCounted {
public:
    TDictionary* next; // chain built by TGrammar::PushDictionary; not searched
    mbstring name;
    TMap map; // name -> entry index

    explicit TDictionary(mbstring name);
    virtual ~TDictionary();

    // Appends rule (taking ownership) to the rule list of name, creating the
    // list on first use; marks the name defined and sets its intermediate flag.
    void Add(mbstring name, TRule* rule, int intermediate);
    // Declares name external. Fails with "extern %s already defined" when it
    // already has rules; a repeated declaration is harmless.
    void AddExtern(mbstring name);
    // value = the name's rule list (null for an extern or unknown name); with
    // reference set the name is marked referenced. Unknown names are
    // remembered. Returns the entry's defined flag.
    int Lookup(mbstring name, TRuleList*& value, int reference);
    // The entry of name, or null; creates nothing.
    TDictionaryEntry* Find(mbstring name);

    // Messages name places in the sources read into this dictionary: the
    // file names live here, and the first reference of every name is kept.
    const char* FileName(const char* fn);
    void Referenced(mbstring name, const TSourcePos& at);
    TSourcePos FirstReference(mbstring name) const;
    // Where the rule list `from` refers to `name`, or an empty position.
    TSourcePos Reference(mbstring from, mbstring name);

private:
    TDictionaryEntry* Entry(mbstring name);
    std::list<std::string> files;
    std::map<std::string, TSourcePos> first_use;
};

// ---- grammars ----

// One root of a dictionary, and the dictionary through which the FSG compiler
// finds the sub-FSG of every rule list it references.
class TGrammar : public TFSGDictionary {
public:
    int roottr;     // compile the root with translations
    int intern_all; // set by Compile
    TDictionary* dictionary; // counted reference
    TRuleList* root;         // not owned
    TFSG* rootfsg;           // the FSG being built by Compile

    explicit TGrammar(int roottr);
    TGrammar(const TGrammar&) = delete;
    TGrammar& operator=(const TGrammar&) = delete;

    // trule_compile.cpp
    TSubFSG* GetFSG(mbstring name, int needtr, TFSG* fsg) override;
    TSubFSG* GetRootTwin(mbstring name, int needtr, bool make) override;
    TPlace ReferencePlace(mbstring from, mbstring name) override;

    // Drops the references this grammar holds on its dictionary chain.
    virtual ~TGrammar();

    // For a grammar without a dictionary: takes a reference on d and looks up
    // the root rule list; fails with "no root" when root is null, undefined
    // or only declared extern.
    void SetDictionary(TDictionary* d, mbstring root);
    // Puts d in front of the current dictionary (d->next) and takes a
    // reference on it.
    void PushDictionary(TDictionary* d);

    // trule_compile.cpp
    TFSG* Compile(int use_null_arcs, int annotations, int warn_unused, int intern_all, TSubFSG::Eq eq);
    // Releases every network the rule lists cache.
    void DropCaches();

    // The grammars of one parse: fill defines the rules of a new dictionary
    // ("global"), appends the names of its roots and returns whether they
    // are compiled with translations; a grammar for each root is appended to
    // grammars. The parse holds a reference of its own until every grammar
    // holds one, so that a failure anywhere releases the grammars made so far
    // and then the dictionary, leaving grammars as it was.
    static void MakeAll(TArray<TGrammar*>& grammars,
                        const std::function<int(TDictionary*, std::vector<mbstring>&)>& fill);
};

// ---- BNF parser ----

// Number of the next generated group name "<_rule%d>"; counts for the life of
// the process.
extern int ruleno;

// Reads a BNF grammar source into the grammar model: every rule definition
// becomes a rule list of one shared dictionary, groups become generated rule
// lists, included files are read by nested streams into the same dictionary.
// Every token handed out lives in the stream's pool and dies with it.
class TBNFStream : public TStream {
public:
    int annotations; // record annotations and translations (else parse and drop)
    int sawanno;     // a ":" annotation was seen
    int numonly;     // annotations must be unquoted decimal digits
    int needtr;      // a translation or braced group was seen with annotations on
    int tagged;      // an intent or slot tag was seen (intents are compiled with -tr)
    mbstring first;  // the first rule list defined by this stream
    TStringList roots;
    TDictionary* dictionary; // not owned
    const char* special;

    TBNFStream(const char* fn, const char* ext);
    TBNFStream(const char* s, int l);
    ~TBNFStream();

    void Annotations(int a) { annotations = a; }
    void NumOnly(int n) { numonly = n; }
    int NeedTr() { return needtr; }
    void SetSpecial(const char* s) { special = s; }

    // Parses the whole text into a new dictionary and appends one grammar per
    // root (the first rule list when no "<<...>>" root was defined). On
    // failure nothing is appended and the dictionary is destroyed.
    void Compile(TArray<TGrammar*>& grammars);
    // Parses the whole text into the given dictionary.
    void Compile(TDictionary* dictionary);

    int GetStatement();
    int GetRuleList(mbstring lhs, int& tr, int intermediate);
    // rule is always set to a new rule, which the caller owns.
    int GetRule(TRule*& rule, int& tr);
    int GetTerminal(mbstring& word);
    int GetNonterminal(mbstring& name);
    // The same, with the position of the name's '<' when there is one.
    int GetNonterminal(mbstring& name, int& l, int& c);
    int GetAnnotation(mbstring& anno);
    int GetNumber(float& f);
    // After ':' following the item at index item of rule (-1: the rule's
    // name): a slot name or "@intent".
    void GetTag(TRule* rule, int item, int l, int c);
    bool PeekTag(int& l, int& c);
    void CheckBraces(int l, int c);
    int GetBalanced(const char* close, int keep);
    int GetDelimited(mbstring& m, const char* start, const char* stop);
    int GetLiteral(const char* s);
    void Skip();
    int PeekSpace();
    int PeekSpecial();
    int PeekRuleTerminator();
    mbstring MakeRuleName();

private:
    // The stream whose include statement opened this one, for cycle checks.
    TBNFStream* includer;
    const char* file; // fn as the dictionary keeps it
    const char* expected; // what the statement being read lacked, for its syntax error
    mbstring semicolon;   // a ";" comment or word end read in the statement being read
    int include_depth;
    int nesting; // open groups and balanced brackets
    bool has_id;
    unsigned long long dev, ino;
    // In the outermost stream: the files included so far, by identity; a
    // file included again is skipped.
    std::vector<std::pair<unsigned long long, unsigned long long>> included;

    void Init();
    void Enter(int l, int c);
    void Leave() { nesting--; }
    bool PlainPeek(mbchar& c);
    bool DefinitionAt(const char* p) const;
    int IsSpecial(mbchar c);
    void Include(mbstring word, int l, int c);
    [[noreturn]] void ErrorAt(int l, int c, const char* fmt, ...) KSBNFC_PRINTF(4, 5);
    [[noreturn]] void UnterminatedToken(mbstring at, const char* expected);
    TPlace Place(int l, int c) const;
    void Expected(const char* what);
};

// ---- JSGF front end (jsgf.cpp) ----

// Reads the JSGF grammar fn and the grammars it imports into a new dictionary
// and appends one grammar per public rule, in the order they are defined.
// With annotations set, tags become translations. Returns whether the
// grammars need translations (the grammar has tags and annotations is set).
// On failure nothing is appended and the dictionary is destroyed.
int CompileJSGF(const char* fn, int annotations, TArray<TGrammar*>& grammars);

// ---- intents (trule_intents.cpp) ----

// Whether some alternative of the dictionary has a slot or intent tag.
bool HasTags(TDictionary* d);
// The intent network of grammar g: the root compiled with translations in
// which every slot value is wrapped in the reserved bytes of IntentMarks and
// every intent name is added, so that the translation of a sentence carries
// its intent and slots; returned as the bytes of its normalised file. The
// rules are rewritten for the compile and restored after it, so that the
// grammar's other roots compile as before. Warnings of this second compile
// are dropped: the first one gave them.
std::string CompileIntents(TGrammar* g, int use_null_arcs, int intern_all, TSubFSG::Eq eq, int flags);

#endif // KSBNFC_TRULE_H
