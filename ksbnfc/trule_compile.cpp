// trule_compile.cpp: compilation of rule lists into sub-FSGs. Entry points:
// TGrammar::Compile (one root into a new TFSG), TGrammar::GetFSG (the cached
// network of a rule list, compiled on first use), TRuleList::Compile,
// TRule::Compile and TRule::DefaultTranslation.
#include "trule.h"

#include <string>
#include <vector>

namespace {

// Drops the rule lists' references on their cached networks: all of them, or
// only those that are not intern (an FSG being normalised still fetches its
// intern networks by name).
void ReleaseCached(TDictionary* d, bool interns_too)
{
    if (!d) return;
    for (int i = 0; i < d->length; i++) {
        TRuleList* rl = d->elements[i]->value;
        if (!rl) continue;
        TSubFSG** slots[4] = {&rl->fsg_tr, &rl->fsg_no_tr, &rl->twin_tr, &rl->twin_no_tr};
        for (TSubFSG** slot : slots) {
            TSubFSG* s = *slot;
            if (!s || (s->intern && !interns_too)) continue;
            *slot = nullptr;
            s->DelRef();
        }
    }
}

} // namespace

// Every root starts from empty caches. Networks kept as intern by an earlier
// root were built with that root's word and annotation objects, whose ids
// belong to the earlier file; and the earlier root's own network may sit in
// the cache of this root's rule list. Compiling afresh gives each root a
// network that contains its whole language and only its own words. The
// earlier FSGs keep their own references on the networks they use.
TFSG* TGrammar::Compile(int use_null_arcs, int annotations, int warn_unused, int all, TSubFSG::Eq eq)
{
    if (!root) Error("no root");
    ReleaseCached(dictionary, true);
    intern_all = all;
    rootfsg = new TFSG(root->name, eq);
    try {
        GetFSG(root->name, roottr, rootfsg);
        rootfsg->Compile(this, use_null_arcs, annotations);
    } catch (char*) {
        // The FSG is held only by the caches here; release both.
        TFSG* f = rootfsg;
        f->AddRef();
        ReleaseCached(dictionary, true);
        rootfsg = nullptr;
        f->DelRef();
        throw;
    }

    if (warn_unused) {
        for (int i = 0; i < dictionary->length; i++) {
            TDictionaryEntry* e = dictionary->elements[i];
            if (!e->referenced && !e->intermediate)
                WarningAt(e->value ? e->value->defined : TPlace(), "%s defined but not used", e->name.s);
        }
    }

    rootfsg->AddRef();
    ReleaseCached(dictionary, false);
    rootfsg->SubRef();
    return rootfsg;
}

void TGrammar::DropCaches() { ReleaseCached(dictionary, true); }

// The root's own network (fsg given) is never intern: a reference from the
// root to itself is then a loop (tail position) or an illegal recursion,
// instead of an intern network that would contain the whole FSG.
TPlace TGrammar::ReferencePlace(mbstring from, mbstring name)
{
    return dictionary ? dictionary->Reference(from, name) : TPlace();
}

TSubFSG* TGrammar::GetRootTwin(mbstring name, int needtr, bool make)
{
    TRuleList* rl = nullptr;
    if (!rootfsg || !dictionary || !dictionary->Lookup(name, rl, 1) || !rl) return nullptr;
    TSubFSG*& slot = needtr ? rl->twin_tr : rl->twin_no_tr;
    if (!slot && make) {
        TSubFSG* s = new TSubFSG(rl->name, rootfsg);
        s->intern = 1;
        s->AddRef();
        slot = s;
        rl->Compile(dictionary, needtr, s);
    }
    return slot;
}

TSubFSG* TGrammar::GetFSG(mbstring name, int needtr, TFSG* fsg)
{
    TRuleList* rl = nullptr;
    if (!dictionary || !dictionary->Lookup(name, rl, 1) || !rl) Error("%s is undefined", name.s);
    TSubFSG*& slot = needtr ? rl->fsg_tr : rl->fsg_no_tr;
    if (slot && fsg && slot != fsg) {
        // A network cached for another FSG cannot stand for this root: the
        // root's language is compiled into the FSG it was asked for.
        TSubFSG* old = slot;
        slot = nullptr;
        old->DelRef();
    }
    if (!slot) {
        if (!fsg && !rootfsg) Error("%s: no grammar is being compiled", name.s);
        TSubFSG* s = fsg ? static_cast<TSubFSG*>(fsg) : new TSubFSG(rl->name, rootfsg);
        s->intern = fsg ? 0 : intern_all;
        // The cache holds its reference from the start, so that a failing
        // compile leaves nothing unowned.
        s->AddRef();
        slot = s;
        rl->Compile(dictionary, needtr, s);
    } else {
        slot->fsg = rootfsg;
    }
    return slot;
}

void TRuleList::Compile(TDictionary* d, int needtr, TSubFSG* sub)
{
    float total = 0.0f;
    for (int i = 0; i < length; i++) total += elements[i]->weight;
    for (int i = 0; i < length; i++) {
        TRule* r = elements[i];
        if (needtr) r->DefaultTranslation(sub);
        r->Compile(d, needtr, sub, r->weight / total);
    }
    if (dbglevel > 1) sub->Print(dbglevel - 1, needtr ? "initial (with tr)" : "initial (without tr)");
}

void TRule::Compile(TDictionary* d, int needtr, TSubFSG* sub, float p)
{
    TState* from = sub->Initial();
    int n = phrase.length;
    if (n == 0) {
        WarningLine(Place(), "empty rule ignored; use \"\" for empty rule");
        return;
    }
    for (int i = 0; i < n; i++) {
        TPhraseItem* item = phrase.elements[i];
        TState* to = i < n - 1 ? sub->AddState() : nullptr;
        TArc* arc;
        if (item->terminal) {
            arc = from->AddArc(to, p, item->word, item->anno, item->op);
        } else {
            TRuleList* rl = nullptr;
            if (!d->Lookup(item->word, rl, 1))
                ErrorAt(d->FirstReference(item->word), "%s is not defined", item->word.s);
            if (rl) {
                arc = from->AddInternArc(to, p, item->word, item->anno, item->op);
            } else {
                mbstring anno = needtr && item->needtr ? mbstring("{}") : item->anno;
                arc = from->AddExternArc(to, p, item->word, anno, item->op);
            }
        }
        if (needtr) {
            arc->needtr = item->needtr;
            if (!to) from->AddArcPostAction(arc, translation);
        }
        from = to;
        p = 1.0f;
    }
}

// Rewrites the rule for good: a second compile with translations finds the
// translation written here and keeps it as it is.
void TRule::DefaultTranslation(TSubFSG*)
{
    int n = phrase.length;
    int ntrs = 0;
    for (int i = 0; i < n; i++)
        if (phrase.elements[i]->needtr) ntrs++;

    if (!translation) {
        if (ntrs == 0) {
            for (int i = 0; i < n; i++) phrase.elements[i]->needtr = 1;
            ntrs = n;
        }
        if (ntrs < 2) return;
        std::string t = "{1}";
        for (int k = 2; k <= ntrs; k++) t += " {" + std::to_string(k) + "}";
        Translation(t.c_str());
        return;
    }

    int nargs = MaxActionArg(translation);
    if (nargs > n) ErrorLine(Place(), "too many args in rule");
    if (dollar) {
        ntrs = 0;
        for (int i = 0; i < n; i++) {
            TPhraseItem* item = phrase.elements[i];
            if (item->terminal) continue;
            item->needtr = ntrs < nargs;
            if (item->needtr) ntrs++;
        }
    }
    if (nargs >= 1 && ntrs == 0) {
        for (int i = 0; i < nargs; i++) phrase.elements[i]->needtr = 1;
        ntrs = nargs;
    }
    if (ntrs != nargs)
        ErrorLine(Place(), "too %s marks in rule", ntrs < nargs ? "few" : "many");

    std::vector<int> map((size_t)nargs + 1, 0);
    Translation(RemapArgs(translation, nargs, map.data()));
    // The marks now sit on the items the renumbered arguments name. Marking
    // by "$" again on a second compile would move them to the first
    // nonterminals ("g $2" would come to translate the first one).
    dollar = 0;

    int j = 0;
    for (int i = 0; i < n; i++) {
        TPhraseItem* item = phrase.elements[i];
        if (!item->needtr) continue;
        j++;
        if (j > nargs || !map[(size_t)j]) item->needtr = 0;
    }
}
