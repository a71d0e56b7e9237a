// tfsg_probs.cpp: arc probabilities. Per-state normalisation, equal arc
// shares, equally likely sentences and uniform weights: TState::
// NormalizeArcProbabilities and the TSubFSG passes declared under "tfsg_probs".
#include "tfsg.h"

#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace {

// Every probability result passes through a single-precision store, so that
// x87 builds (-m32) round exactly as SSE builds do.
inline float Single(float x) {
  volatile float v = x;
  return v;
}

// Sentence counting for EqualizeSentenceProbabilities. A state's `flag` is -1
// before it is counted and 0 or more afterwards (0 while it is still on the
// walk, which is how a cycle answers 0); it receives the count clamped to
// INT_MAX. The counts themselves are kept beside the flags as doubles, which
// hold every count a grammar of practical size can have (exactly up to 2^53)
// without wrapping. Where all counts fit in an int the shares are computed in
// single precision exactly as the int counts give them; larger counts share
// in double precision, and counts beyond the double range share equally.
//
// The walk is depth first in arc order with an explicit stack: its depth is
// the length of the longest acyclic path, which grammars make arbitrarily long.
class SentenceCounter {
 public:
  double Count(TState* root) {
    if (!root) return 1;
    if (root->flag >= 0) return Known(root);
    Open(root);
    double result = 0;
    while (!frames_.empty()) {
      Frame& f = frames_.back();
      if (f.next < f.state->arcs.length) {
        TState* t = f.state->arcs[f.next]->state;
        if (t && t->flag < 0) {
          Open(t); // invalidates f, which is not touched again here
          continue;
        }
        Add(f, t ? Known(t) : 1);
        continue;
      }
      double total = Close(f);
      frames_.pop_back();
      if (frames_.empty())
        result = total;
      else
        Add(frames_.back(), total);
    }
    return result;
  }

  static int Clamp(double n) { return n > INT32_MAX ? INT32_MAX : static_cast<int>(n); }

 private:
  struct Frame {
    TState* state;
    int next;      // index of the arc whose target is asked next
    double total;  // sentences through arcs with non-zero counts
    int zeros;     // arcs whose target counts 0
  };

  // The count of a target that needs no further walking: null, counted, or
  // still open (0). A flag set before this counter existed stands for itself.
  double Known(TState* t) {
    if (!t) return 1;
    auto it = counts_.find(t);
    if (it != counts_.end()) return it->second;
    return t->flag > 0 ? t->flag : 0;
  }

  void Open(TState* s) {
    s->flag = 0;
    frames_.push_back(Frame{s, 0, 0, 0});
  }

  static void Add(Frame& f, double k) {
    if (k != 0)
      f.total += k;
    else
      f.zeros++;
    f.next++;
  }

  // Every target of f's arcs is now counted or open, so the shares follow
  // from the known counts without walking again.
  double Close(Frame& f) {
    TArray<TArc*>& arcs = f.state->arcs;
    const double total = f.total;
    float pz = f.zeros > 0 ? Single(0.5f / static_cast<float>(f.zeros)) : 0.0f;
    if (total <= INT32_MAX) {
      float q = 0.0f;
      if (total > 0) q = Single((f.zeros > 0 ? 0.5f : 1.0f) / static_cast<float>(total));
      for (int i = 0; i < arcs.length; i++) {
        double k = Known(arcs[i]->state);
        arcs[i]->p = k != 0 ? Single(q * static_cast<float>(k)) : pz;
      }
    } else {
      // Counts are scaled by the largest before summing, so that a total
      // that passes the double range still shares by its parts.
      const double share = f.zeros > 0 ? 0.5 : 1.0;
      int infinite = 0;
      double largest = 0;
      for (int i = 0; i < arcs.length; i++) {
        double k = Known(arcs[i]->state);
        if (std::isinf(k)) infinite++;
        else if (k > largest) largest = k;
      }
      double scaled = 0;
      if (!infinite)
        for (int i = 0; i < arcs.length; i++) scaled += Known(arcs[i]->state) / largest;
      for (int i = 0; i < arcs.length; i++) {
        double k = Known(arcs[i]->state);
        if (k == 0)
          arcs[i]->p = pz;
        else if (infinite)
          arcs[i]->p = std::isinf(k) ? static_cast<float>(share / infinite) : 0.0f;
        else
          arcs[i]->p = static_cast<float>(share * (k / largest / scaled));
      }
    }
    counts_[f.state] = total;
    f.state->flag = Clamp(total);
    return total;
  }

  std::vector<Frame> frames_;
  std::unordered_map<TState*, double> counts_;
};

} // namespace

void TState::NormalizeArcProbabilities() {
  float sum = 0.0f;
  for (int i = 0; i < arcs.length; i++) sum = Single(sum + arcs[i]->p);
  // Arcs that sum to 0 carry no distribution to scale; dividing would turn
  // them into NaNs.
  if (sum == 0.0f) return;
  for (int i = 0; i < arcs.length; i++) arcs[i]->p = Single(arcs[i]->p / sum);
}

void TSubFSG::NormalizeArcProbabilities() {
  Enter("NormalizeArcProbabilities");
  for (int i = 0; i < states.length; i++) states[i]->NormalizeArcProbabilities();
  Exit("NormalizeArcProbabilities");
}

void TSubFSG::EqualizeArcProbabilities() {
  Enter("EqualizeArcProbabilities");
  for (int i = 0; i < states.length; i++) {
    TArray<TArc*>& arcs = states[i]->arcs;
    if (arcs.length == 0) continue;
    float q = Single(1.0f / static_cast<float>(arcs.length));
    for (int j = 0; j < arcs.length; j++) arcs[j]->p = q;
  }
  Exit("EqualizeArcProbabilities");
}

void TSubFSG::EqualizeSentenceProbabilities() {
  Enter("EqualizeSentenceProbabilities");
  for (int i = 0; i < states.length; i++) states[i]->flag = -1;
  SentenceCounter().Count(Initial());
  Exit("EqualizeSentenceProbabilities");
}

int TSubFSG::EqualizeSentenceProbabilities(TState* s) {
  return SentenceCounter::Clamp(SentenceCounter().Count(s));
}

void TSubFSG::UniformArcWeights(float w) {
  Enter("UniformArcWeights");
  for (int i = 0; i < states.length; i++) {
    TArray<TArc*>& arcs = states[i]->arcs;
    for (int j = 0; j < arcs.length; j++) arcs[j]->p = w;
  }
  Exit("UniformArcWeights");
}
