// trule.cpp: the grammar model as the parser fills it: phrase items, rules,
// rule lists, the dictionary (Add, AddExtern, Lookup) and the dictionary
// side of TGrammar (SetDictionary, PushDictionary, MakeAll). Compilation is in
// trule_compile.cpp.
#include "trule.h"

#include <memory>

TPhraseItem::TPhraseItem(char* w, char* a, int t)
    : word(w), anno(a), terminal((unsigned char)(t != 0)), needtr(0), op(OpNone), line(0), col(0)
{
}

TPhraseItem* TPhraseItem::Make(mbstring w, mbstring a, int t)
{
    size_t lw = w.s ? std::strlen(w.s) + 1 : 0;
    size_t la = a.s ? std::strlen(a.s) + 1 : 0;
    char* block = static_cast<char*>(::operator new(sizeof(TPhraseItem) + lw + la));
    char* texts = block + sizeof(TPhraseItem);
    char* wc = w.s ? static_cast<char*>(std::memcpy(texts, w.s, lw)) : nullptr;
    char* ac = a.s ? static_cast<char*>(std::memcpy(texts + lw, a.s, la)) : nullptr;
    return new (block) TPhraseItem(wc, ac, t);
}

TPhraseItem* TPhrase::AddTerminal(mbstring word, mbstring anno)
{
    TPhraseItem* item = TPhraseItem::Make(word, anno, 1);
    Add(item);
    return item;
}

TPhraseItem* TPhrase::AddNonterminal(mbstring name)
{
    TPhraseItem* item = TPhraseItem::Make(name, mbstring(), 0);
    Add(item);
    return item;
}

TRule::TRule() : dollar(0), weight(1.0f), line(0), col(0), file(nullptr) {}

TPlace TRule::Place() const
{
    TPlace at;
    at.file = file;
    at.line = line;
    at.col = col;
    return at;
}

TRule::~TRule() { delete[] translation.s; }

void TRule::Translation(mbstring t)
{
    char* copy = Copy(t.s);
    delete[] translation.s;
    translation = copy;
}

TRuleList::TRuleList(mbstring n)
    : name(Copy(n.s)), fsg_no_tr(nullptr), fsg_tr(nullptr), twin_no_tr(nullptr), twin_tr(nullptr)
{
}

TRuleList::~TRuleList()
{
    DeleteElements();
    if (fsg_tr) fsg_tr->DelRef();
    if (fsg_no_tr) fsg_no_tr->DelRef();
    if (twin_tr) twin_tr->DelRef();
    if (twin_no_tr) twin_no_tr->DelRef();
    delete[] name.s;
}

TDictionaryEntry::TDictionaryEntry(mbstring n)
    : name(Copy(n.s)), value(nullptr), referenced(0), defined(0), intermediate(0)
{
}

TDictionaryEntry::~TDictionaryEntry()
{
    delete value;
    delete[] name.s;
}

TDictionary::TDictionary(mbstring n) : next(nullptr), name(Copy(n.s)) {}

TDictionary::~TDictionary()
{
    DeleteElements();
    delete[] name.s;
}

// The map hands out the entry count for a new name, so an index equal to the
// count means the entry has to be created.
TDictionaryEntry* TDictionary::Entry(mbstring n)
{
    int i = map.Add(n.s, length);
    if (i == length) TArray<TDictionaryEntry*>::Add(new TDictionaryEntry(n));
    return elements[i];
}

TDictionaryEntry* TDictionary::Find(mbstring n)
{
    if (!n) return nullptr;
    int i = map.Find(n.s);
    return i >= 0 ? elements[i] : nullptr;
}

const char* TDictionary::FileName(const char* fn)
{
    for (const std::string& f : files)
        if (f == fn) return f.c_str();
    files.emplace_back(fn);
    return files.back().c_str();
}

void TDictionary::Referenced(mbstring name, const TSourcePos& at)
{
    if (name.s) first_use.emplace(name.s, at);
}

TSourcePos TDictionary::FirstReference(mbstring name) const
{
    auto it = name.s ? first_use.find(name.s) : first_use.end();
    return it == first_use.end() ? TSourcePos() : it->second;
}

TSourcePos TDictionary::Reference(mbstring from, mbstring name)
{
    TDictionaryEntry* e = Find(from);
    TRuleList* rl = e ? e->value : nullptr;
    for (int i = 0; rl && i < rl->length; i++) {
        TRule* r = rl->elements[i];
        for (int j = 0; j < r->phrase.length; j++) {
            TPhraseItem* item = r->phrase.elements[j];
            if (item->terminal || !item->word.s || !name.s || std::strcmp(item->word.s, name.s) != 0) continue;
            TSourcePos at;
            at.file = r->file;
            at.line = item->line;
            at.col = item->col;
            return at;
        }
    }
    return TSourcePos();
}

void TDictionary::Add(mbstring n, TRule* rule, int intermediate)
{
    TDictionaryEntry* e = Entry(n);
    e->defined = 1;
    e->intermediate = intermediate;
    if (!e->value) e->value = new TRuleList(n);
    e->value->Add(rule);
}

void TDictionary::AddExtern(mbstring n)
{
    TDictionaryEntry* e = Entry(n);
    if (e->value) Error("extern %s already defined", n.s);
    e->defined = 1;
}

int TDictionary::Lookup(mbstring n, TRuleList*& value, int reference)
{
    int count = length;
    TDictionaryEntry* e = Entry(n);
    if (length != count) {
        e->referenced = reference;
        value = nullptr;
        return 0;
    }
    value = e->value;
    if (reference) e->referenced = 1;
    return e->defined;
}

TGrammar::TGrammar(int tr)
    : roottr(tr), intern_all(0), dictionary(nullptr), root(nullptr), rootfsg(nullptr)
{
}

// A grammar holds one reference on each dictionary of its chain (the one
// given to SetDictionary and every pushed one), so it drops them all.
TGrammar::~TGrammar()
{
    TDictionary* d = dictionary;
    dictionary = nullptr;
    while (d) {
        TDictionary* below = d->next;
        d->DelRef();
        d = below;
    }
}

void TGrammar::SetDictionary(TDictionary* d, mbstring rootname)
{
    d->AddRef();
    dictionary = d;
    root = nullptr;
    if (!rootname || !d->Lookup(rootname, root, 0) || !root) Error("no root");
}

void TGrammar::MakeAll(TArray<TGrammar*>& grammars,
                       const std::function<int(TDictionary*, std::vector<mbstring>&)>& fill)
{
    TDictionary* d = new TDictionary("global");
    d->AddRef();
    int base = grammars.length;
    try {
        std::vector<mbstring> roots;
        int tr = fill(d, roots);
        for (mbstring root : roots) {
            std::unique_ptr<TGrammar> g(new TGrammar(tr));
            g->SetDictionary(d, root);
            grammars.Add(g.release());
        }
    } catch (...) {
        for (int i = grammars.length - 1; i >= base; i--) delete grammars[i];
        grammars.length = base;
        d->DelRef();
        throw;
    }
    d->SubRef();
}

void TGrammar::PushDictionary(TDictionary* d)
{
    d->next = dictionary;
    dictionary = d;
    d->AddRef();
}
