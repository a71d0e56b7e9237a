// tfsg_normalize.cpp: the two pipelines of a compiled grammar. TFSG::Compile
// runs the graph passes in their fixed order once the rule networks exist;
// TFSG::Normalize (with TSubFSG::Normalize, AddDuplicateWords and
// DeleteAmbiguousArcs) brings the result to the numbered form the writer
// stores. Also the small settings of a TFSG (Flags, CodePage) and Convert.
#include "tfsg.h"

#include <cstdio>

// ---- settings ----

void TFSG::Flags(int f)
{
    flags = f;
}

void TFSG::CodePage(int n)
{
    codepage = n;
}

void TFSG::CodePage()
{
    if (codepage == 0) codepage = (int)ks_get_cp();
    if (warnings < 0) {
        std::fprintf(KsListing(), "\t(using codepage %d)\n", codepage);
        std::fflush(KsListing());
    }
}

void Convert(char* s, const unsigned char* table)
{
    if (!s) return;
    for (unsigned char* p = (unsigned char*)s; *p; p++) *p = table[*p];
}

// ---- build pass ----

void TFSG::Compile(TFSGDictionary* d, int null_arcs, int annotations)
{
    use_null_arcs = null_arcs;
    dictionary = d;

    CheckRecursion(this);
    if (dbglevel > 0) Debug("\n--- PASS 1 ---\n\n");
    Expand(1);
    if (dbglevel > 0) Debug("\n--- PASS 2 ---\n\n");
    Expand(2);

    if (!use_null_arcs) {
        // A network that would build more mixtures than a file can number
        // is refused before its null arcs are removed: that alone can make
        // millions of arcs.
        if (MixturesBeyond(kMaxIds)) Error("more than 64K states");
        EliminateNullArcs();
        EliminateDuplicateArcs();
        Optimize();
    }

    if (annotations > 0) {
        int n = DeleteAmbiguousArcs();
        if (annotations > 1) {
            while (PropagateAnnotations()) {
                EliminateDuplicateArcs();
                Optimize();
            }
            n += DeleteAmbiguousArcs();
        }
        if (n > 0) Warning("Deleted %d ambiguous arcs (differed only in annotations)\n", n);
    }
}

// ---- per-network passes ----

// The chain through TWord::copy is shared by every state, so a grammar gets
// as many copies of a word as the largest number of its repeats in one state.
void TSubFSG::AddDuplicateWords()
{
    Enter("AddDuplicateWords");
    for (int i = 0; i < states.length; i++) {
        TState* s = states.elements[i];
        s->arcs.Sort();
        TWord* run = nullptr;
        TWord* chain = nullptr;
        for (int j = 0; j < s->arcs.length; j++) {
            TArc* a = s->arcs.elements[j];
            if (run && a->word == run) {
                if (!chain->copy) {
                    chain->copy = fsg->words.Add(run->word);
                    if (!run->word || *run->word == 0) Warning("added duplicate null word");
                }
                chain = chain->copy;
                a->word = chain;
            } else {
                run = chain = a->word;
            }
        }
    }
    Exit("AddDuplicateWords");
}

// Arcs of a state are compacted in one sweep: a state with many arcs costs
// one sort and one pass, with the same survivors and the same lines on
// standard error as deleting them one at a time.
int TSubFSG::DeleteAmbiguousArcs()
{
    Enter("DeleteAmbiguousArcs");
    int count = 0;
    for (int i = 0; i < states.length; i++) {
        TState* s = states.elements[i];
        if (s->arcs.length == 0) continue;
        s->arcs.Sort2();
        TArc** e = s->arcs.elements;
        int n = s->arcs.length;
        TArc* ref = e[0];
        int kept = 1;
        for (int j = 1; j < n; j++) {
            TArc* a = e[j];
            if (a->word == ref->word && a->state == ref->state) {
                Notice("Deleting duplicate arc '%s' : %s", a->word->word.s ? a->word->word.s : "",
                       a->anno->word.s ? a->anno->word.s : "");
                s->sub->FreeArc(a);
                count++;
            } else {
                ref = a;
                e[kept++] = a;
            }
        }
        for (int j = kept; j < n; j++) e[j] = nullptr;
        s->arcs.length = kept;
    }
    Exit("DeleteAmbiguousArcs");
    return count;
}

// Within TFSG::Normalize the annotation ids are used/unused marks; this pass
// sets the mark of every annotation its arcs carry.
void TSubFSG::Normalize()
{
    switch (fsg->eq) {
    case EqArcProb: EqualizeArcProbabilities(); break;
    case EqSentProb: EqualizeSentenceProbabilities(); break;
    case EqNorm: break;
    }

    for (int i = 0; i < states.length; i++) states.elements[i]->id = i;
    for (int i = 0; i < states.length; i++) states.elements[i]->arcs.Sort();

    // A word arc that takes part in a translation without an action of its
    // own translates to its text, which the file carries as its annotation.
    for (int i = 0; i < states.length; i++) {
        TState* s = states.elements[i];
        for (int j = 0; j < s->arcs.length; j++) {
            TArc* a = s->arcs.elements[j];
            if (a->needtr && a->word->kind == TWord::Word && !a->anno->word)
                a->anno = fsg->annos.Lookup(a->word->word, 1);
        }
    }

    for (int i = 0; i < states.length; i++) {
        TState* s = states.elements[i];
        for (int j = 0; j < s->arcs.length; j++) s->arcs.elements[j]->anno->id = 1;
    }
}

// ---- the whole grammar ----

namespace {

// Entry k of intern_fsgs becomes the network of w, holding one reference. A
// repeated normalisation replaces what an earlier one stored there, so that
// no reference is taken twice.
void ResolveIntern(TFSG* f, int k, TWord* w, int needtr)
{
    const char* name = w->word.s ? w->word.s : "";
    if (!f->dictionary) Error("no dictionary to resolve the intern sub-grammar %s", name);
    w->id = 0xFFFF - k;
    // A call of the root from an intern network calls the root's intern twin.
    TSubFSG* s = f->dictionary->GetRootTwin(w->word, needtr, false);
    if (!s) s = f->dictionary->GetFSG(w->word, needtr, nullptr);
    // A network that contains itself as its own intern would be normalised
    // (and referenced) without end.
    if (s == f) Error("%s cannot be an intern sub-grammar of itself", name);
    s->AddRef();
    TSubFSG* old = k < f->intern_fsgs.length ? f->intern_fsgs.elements[k] : nullptr;
    f->intern_fsgs[k] = s;
    if (old) old->DelRef();
}

} // namespace

void TFSG::Normalize()
{
    Enter("Normalize");
    EngineBug();

    int k = 0;
    for (int i = 0; i < with.length; i++) ResolveIntern(this, k++, with.elements[i], 1);
    for (int i = 0; i < without.length; i++) ResolveIntern(this, k++, without.elements[i], 0);
    int K = intern_fsgs.length;

    if (!fsg->use_null_arcs) {
        AddDuplicateWords();
        for (int i = 0; i < K; i++) intern_fsgs.elements[i]->AddDuplicateWords();
    }

    words.Sort();
    for (int i = 0; i < words.length; i++) words.elements[i]->id = i;
    externs.Sort();
    for (int i = 0; i < externs.length; i++) externs.elements[i]->id = 0xFFFF - i - K;

    annos.elements[0]->id = 1;
    for (int i = 1; i < annos.length; i++) annos.elements[i]->id = 0;

    TSubFSG::Normalize();
    for (int i = 0; i < K; i++) intern_fsgs.elements[i]->Normalize();

    // Unused annotations go; the kept ones move down in creation order and
    // are re-pointed in the map (removed texts keep stale map entries, which
    // Lookup detects by comparing the text). Dropped words stay in the
    // list's arena until the list goes.
    int kept = 0;
    for (int i = 0; i < annos.length; i++) {
        TWord* a = annos.elements[i];
        if (a->id != 0) annos.elements[kept++] = a;
    }
    for (int i = kept; i < annos.length; i++) annos.elements[i] = nullptr;
    annos.length = kept;
    for (int i = 0; i < kept; i++) {
        TWord* a = annos.elements[i];
        a->id = i;
        if (a->word.s) annos.map.Update(a->word.s, i);
    }

    normalized = 1;
    Exit("Normalize");
}
