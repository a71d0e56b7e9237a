// trule_intents.cpp: the intent network of a grammar with slot and intent
// tags. Entry points: HasTags and CompileIntents (trule.h). The network is
// the root compiled once more with translations, after each alternative's
// translation has been rewritten to wrap its slots' values and add its
// intents in the reserved bytes of ksbnfc::marks; the run time reads them
// back (intent/intent.cpp).
#include "ksbnfc_inner.h"
#include "nlsfunc.h"
#include "trule.h"

#include <set>
#include <string>
#include <vector>

namespace {

using namespace ksbnfc::marks;

// Every rule of the dictionary chain.
std::vector<TRule*> Rules(TDictionary* d)
{
    std::vector<TRule*> rules;
    for (; d; d = d->next)
        for (int i = 0; i < d->length; i++)
            if (TRuleList* rl = d->elements[i]->value)
                for (int j = 0; j < rl->length; j++) rules.push_back(rl->elements[j]);
    return rules;
}

TRuleList* ListOf(TDictionary* d, const TPhraseItem* item)
{
    TRuleList* rl = nullptr;
    if (!item->terminal) d->Lookup(item->word, rl, 0);
    return rl;
}

// The rule lists whose translation must reach the root because a tag lies
// in them or below them. Found by iterating to a fixed point rather than by
// walking the references, so that deep grammars cannot exhaust the stack.
std::set<const TRuleList*> Carrying(TDictionary* d)
{
    std::set<const TRuleList*> carrying;
    for (bool grew = true; grew;) {
        grew = false;
        for (TDictionary* x = d; x; x = x->next)
            for (int i = 0; i < x->length; i++) {
                TRuleList* rl = x->elements[i]->value;
                if (!rl || carrying.count(rl)) continue;
                bool carries = false;
                for (int j = 0; j < rl->length && !carries; j++) {
                    TRule* r = rl->elements[j];
                    carries = !r->tags.empty();
                    for (int k = 0; k < r->phrase.length && !carries; k++)
                        carries = carrying.count(ListOf(d, r->phrase.elements[k])) > 0;
                }
                if (carries) grew = carrying.insert(rl).second;
            }
    }
    return carrying;
}

// Rewrites a normalised rule (TRule::DefaultTranslation has run): items that
// carry a tag are marked, the references are renumbered for the new marks,
// a slot already in the translation is wrapped where it is referenced, and
// the rest is appended.
void Rewrite(TRule* r, TDictionary* d, const std::set<const TRuleList*>& carrying)
{
    const int n = r->phrase.length;
    std::vector<const TTag*> slot((size_t)n, nullptr);
    std::string intents;
    for (const TTag& t : r->tags) {
        if (t.intent) intents += kIntent + t.name + kIntentEnd;
        else if (t.item >= 0 && t.item < n) slot[(size_t)t.item] = &t;
    }
    std::vector<int> renumbered(1, 0); // old argument -> new
    std::vector<int> item_of(1, -1);   // old argument -> item
    std::string appended;
    int marks = 0;
    for (int i = 0; i < n; i++) {
        TPhraseItem* item = r->phrase.elements[i];
        bool carries = slot[(size_t)i] || carrying.count(ListOf(d, item));
        if (!item->needtr && !carries) continue;
        marks++;
        if (item->needtr) {
            renumbered.push_back(marks);
            item_of.push_back(i);
            continue;
        }
        item->needtr = 1;
        appended += kHidden;
        if (slot[(size_t)i]) appended += slot[(size_t)i]->name;
        appended += kValue + ("{" + std::to_string(marks) + "}") + kEnd;
    }
    bool wrapped = false;
    for (size_t j = 1; j < item_of.size(); j++) wrapped = wrapped || slot[(size_t)item_of[j]];
    if (!wrapped && appended.empty() && intents.empty()) return;

    const int old_args = (int)renumbered.size() - 1;
    std::string from = r->translation.s ? r->translation.s : old_args == 1 ? "{1}" : "";
    std::string to;
    const TCodePage& cp = ProcessCodePage();
    for (const char* p = from.c_str(); *p;) {
        mbstring at(const_cast<char*>(p));
        int k;
        if (GetActionArg(cp, at, k) && k >= 1 && k <= old_args) {
            const TTag* t = slot[(size_t)item_of[(size_t)k]];
            if (t) to += kSlot + t->name + kValue;
            to += "{" + std::to_string(renumbered[(size_t)k]) + "}";
            if (t) to += kEnd;
            p = at.s;
        } else {
            const char* next = reinterpret_cast<const char*>(cp.Inc(reinterpret_cast<const unsigned char*>(p)));
            to.append(p, (size_t)(next - p));
            p = next;
        }
    }
    r->Translation((to + appended + intents).c_str());
}

// What CompileIntents changes, put back when it ends.
class RestoreRules {
public:
    explicit RestoreRules(TGrammar* g) : g_(g), roottr_(g->roottr), warnings_(::warnings)
    {
        for (TRule* r : Rules(g->dictionary)) {
            Saved s{r, r->translation.s != nullptr, r->translation.s ? r->translation.s : "", r->dollar, {}};
            for (int i = 0; i < r->phrase.length; i++) s.needtr.push_back(r->phrase.elements[i]->needtr);
            saved_.push_back(std::move(s));
        }
    }
    ~RestoreRules()
    {
        for (Saved& s : saved_) {
            s.rule->Translation(s.has_translation ? s.translation.c_str() : nullptr);
            s.rule->dollar = s.dollar;
            for (int i = 0; i < s.rule->phrase.length; i++) s.rule->phrase.elements[i]->needtr = s.needtr[(size_t)i];
        }
        g_->roottr = roottr_;
        ::warnings = warnings_;
    }
    RestoreRules(const RestoreRules&) = delete;
    RestoreRules& operator=(const RestoreRules&) = delete;

private:
    struct Saved {
        TRule* rule;
        bool has_translation;
        std::string translation;
        int dollar;
        std::vector<unsigned char> needtr;
    };
    TGrammar* g_;
    int roottr_, warnings_;
    std::vector<Saved> saved_;
};

} // namespace

bool HasTags(TDictionary* d)
{
    for (TRule* r : Rules(d))
        if (!r->tags.empty()) return true;
    return false;
}

std::string CompileIntents(TGrammar* g, int use_null_arcs, int intern_all, TSubFSG::Eq eq, int flags)
{
    RestoreRules restore(g);
    ::warnings = 0;
    std::vector<TRule*> rules = Rules(g->dictionary);
    for (TRule* r : rules) r->DefaultTranslation(nullptr);
    std::set<const TRuleList*> carrying = Carrying(g->dictionary);
    for (TRule* r : rules) Rewrite(r, g->dictionary, carrying);
    g->roottr = 1;

    std::string bytes;
    TFSG* f = g->Compile(use_null_arcs, 1, 0, intern_all, eq);
    f->AddRef();
    try {
        f->Flags(flags);
        f->Normalize();
        f->WriteBytes(bytes);
    } catch (...) {
        g->DropCaches();
        f->DelRef();
        throw;
    }
    // The cached networks belong to this FSG and are built from the
    // rewritten rules: neither may outlive the call.
    g->DropCaches();
    f->DelRef();
    return bytes;
}
