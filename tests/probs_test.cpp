// Tests of the arc probability passes on small hand-built networks.
#include "tfsg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using Probs = std::vector<float>;

class ProbsTest : public ::testing::Test {
 protected:
  ProbsTest() : fsg_(new TFSG("test", TSubFSG::EqNorm)) {}

  // Makes the network hold n states (the initial one exists already).
  void States(int n) {
    while (fsg_->states.length < n) fsg_->AddState();
  }
  TState* S(int i) { return fsg_->states[i]; }
  // A word arc; to < 0 leaves the network.
  TArc* Arc(int from, int to, float p = 1.0f) {
    return S(from)->AddArc(to < 0 ? nullptr : S(to), p, "w", mbstring(), OpNone);
  }
  TArc* Final(int from, float p = 1.0f) { return S(from)->AddNullArc(nullptr, p, mbstring()); }

  Probs Of(int state) {
    Probs out;
    TArray<TArc*>& arcs = S(state)->arcs;
    for (int i = 0; i < arcs.length; i++) out.push_back(arcs[i]->p);
    return out;
  }

  std::unique_ptr<TFSG> fsg_;
};

TEST_F(ProbsTest, StateNormalisation) {
  const float third = 1.0f / 3.0f;
  struct Case {
    Probs in, out;
  } cases[] = {
      {{0.2f, 0.2f, 0.6f}, {0.2f, 0.2f, 0.6f}},
      {{1.0f, 3.0f}, {0.25f, 0.75f}},
      {{2.0f, 2.0f, 2.0f}, {third, third, third}},
      {{0.0f, 0.0f}, {0.0f, 0.0f}},  // nothing to scale: left alone, no NaN
      {{1.0f, -1.0f}, {1.0f, -1.0f}},
      {{}, {}},
  };
  for (const Case& c : cases) {
    fsg_.reset(new TFSG("test", TSubFSG::EqNorm));
    for (float p : c.in) Arc(0, -1, p);
    S(0)->NormalizeArcProbabilities();
    EXPECT_EQ(Of(0), c.out);
  }
}

TEST_F(ProbsTest, NetworkPassesVisitEveryState) {
  States(3);
  Arc(0, 1, 1.0f);
  Arc(0, 2, 3.0f);
  Arc(1, -1, 0.0f);
  Final(2, 4.0f);
  Arc(2, 0, 4.0f);
  fsg_->NormalizeArcProbabilities();
  EXPECT_EQ(Of(0), (Probs{0.25f, 0.75f}));
  EXPECT_EQ(Of(1), (Probs{0.0f}));
  EXPECT_EQ(Of(2), (Probs{0.5f, 0.5f}));

  Arc(1, 2, 0.0f);
  Arc(1, 0, 0.0f);
  fsg_->EqualizeArcProbabilities();
  EXPECT_EQ(Of(0), (Probs{0.5f, 0.5f}));
  EXPECT_EQ(Of(1), (Probs{1.0f / 3.0f, 1.0f / 3.0f, 1.0f / 3.0f}));

  fsg_->UniformArcWeights(1.0f);
  for (int s = 0; s < 3; s++)
    for (float p : Of(s)) EXPECT_EQ(p, 1.0f);
}

TEST_F(ProbsTest, ThreeEquallyLikelySentences) {
  States(2);
  Arc(0, 1);   // a
  Arc(0, -1);  // b
  Arc(1, -1);  // c
  Arc(1, -1);  // d
  fsg_->EqualizeSentenceProbabilities();
  EXPECT_EQ(S(0)->flag, 3);
  EXPECT_EQ(S(1)->flag, 2);
  const float q = 1.0f / 3.0f;
  EXPECT_EQ(Of(0), (Probs{q * 2.0f, q}));
  EXPECT_EQ(Of(1), (Probs{0.5f, 0.5f}));
  EXPECT_NEAR(Of(0)[0] * Of(1)[0], 1.0 / 3, 1e-7);
}

TEST_F(ProbsTest, CyclesAndDeadEndsShareHalf) {
  // A loop on the initial state and a final arc.
  States(1);
  Arc(0, 0);
  Final(0);
  fsg_->EqualizeSentenceProbabilities();
  EXPECT_EQ(Of(0), (Probs{0.5f, 0.5f}));
  EXPECT_EQ(S(0)->flag, 1);

  // 0 -> 1 -> back to 0 or out; 0 also to a dead end (2) and out twice.
  fsg_.reset(new TFSG("test", TSubFSG::EqNorm));
  States(3);
  Arc(0, 1);
  Arc(0, 2);
  Arc(0, -1);
  Final(0);
  Arc(1, 0);
  Final(1);
  fsg_->EqualizeSentenceProbabilities();
  EXPECT_EQ(Of(1), (Probs{0.5f, 0.5f}));
  EXPECT_EQ(S(2)->flag, 0);
  const float q = 0.5f / 3.0f;
  EXPECT_EQ(Of(0), (Probs{q, 0.5f, q, q}));

  // Every arc into a cycle: the state's arcs sum to one half.
  fsg_.reset(new TFSG("test", TSubFSG::EqNorm));
  States(2);
  Arc(0, 1);
  Arc(1, 0);
  Arc(1, 1);
  fsg_->EqualizeSentenceProbabilities();
  EXPECT_EQ(Of(1), (Probs{0.25f, 0.25f}));
  EXPECT_EQ(Of(0), (Probs{0.5f}));
}

// Straight from the definition: recursive, on the same flags.
int ReferenceCount(TState* s) {
  if (!s) return 1;
  if (s->flag >= 0) return s->flag;
  s->flag = 0;
  int total = 0, zeros = 0;
  for (int i = 0; i < s->arcs.length; i++) {
    int k = ReferenceCount(s->arcs[i]->state);
    if (k) total += k; else zeros++;
  }
  float pz = zeros > 0 ? 0.5f / zeros : 0.0f;
  float q = zeros > 0 ? 0.5f / total : 1.0f / total;
  for (int i = 0; i < s->arcs.length; i++) {
    int k = ReferenceCount(s->arcs[i]->state);
    s->arcs[i]->p = k ? q * k : pz;
  }
  s->flag = total;
  return total;
}

// The iterative walk must visit in the same order as the recursive
// definition: on cyclic networks the shares depend on it.
TEST_F(ProbsTest, SentenceSharesMatchTheRecursiveDefinition) {
  srand(7);
  for (int round = 0; round < 300; round++) {
    const int n = 1 + rand() % 8;
    TFSG a("a", TSubFSG::EqNorm), b("b", TSubFSG::EqNorm);
    while (a.states.length < n) a.AddState(), b.AddState();
    for (int s = 0; s < n; s++) {
      for (int arcs = rand() % 4; arcs > 0; arcs--) {
        int to = rand() % (n + 1) - 1;
        a.states[s]->AddArc(to < 0 ? nullptr : a.states[to], 1.0f, "w", mbstring(), OpNone);
        b.states[s]->AddArc(to < 0 ? nullptr : b.states[to], 1.0f, "w", mbstring(), OpNone);
      }
    }
    a.EqualizeSentenceProbabilities();
    for (int s = 0; s < n; s++) b.states[s]->flag = -1;
    ReferenceCount(b.Initial());
    for (int s = 0; s < n; s++) {
      ASSERT_EQ(a.states[s]->flag, b.states[s]->flag) << "round " << round << " state " << s;
      for (int i = 0; i < a.states[s]->arcs.length; i++)
        ASSERT_EQ(a.states[s]->arcs[i]->p, b.states[s]->arcs[i]->p) << "round " << round;
    }
  }
}

TEST_F(ProbsTest, LongPathDoesNotExhaustTheStack) {
  const int n = 200000;
  States(n);
  for (int s = 0; s + 1 < n; s++) Arc(s, s + 1);
  Final(n - 1);
  EXPECT_EQ(fsg_->EqualizeSentenceProbabilities(fsg_->Initial()), 0);  // flags start at 0: all "open"
  for (int s = 0; s < n; s++) S(s)->flag = -1;
  EXPECT_EQ(fsg_->EqualizeSentenceProbabilities(fsg_->Initial()), 1);
  fsg_->EqualizeSentenceProbabilities();
  EXPECT_EQ(S(0)->flag, 1);
  EXPECT_EQ(Of(n / 2), (Probs{1.0f}));
}

// A sequence of two-way choices: layer i has 2^(layers - i) sentences.
TEST_F(ProbsTest, HugeSentenceCountsDoNotWrap) {
  for (int layers : {40, 2000}) {
    fsg_.reset(new TFSG("test", TSubFSG::EqNorm));
    States(layers + 1);
    for (int s = 0; s < layers; s++) {
      Arc(s, s + 1);
      Arc(s, s + 1);
    }
    Final(layers);
    fsg_->EqualizeSentenceProbabilities();
    EXPECT_EQ(S(0)->flag, INT32_MAX) << layers;
    EXPECT_EQ(S(layers - 3)->flag, 8) << layers;
    for (int s = 0; s < layers; s++) ASSERT_EQ(Of(s), (Probs{0.5f, 0.5f})) << layers << " " << s;
  }
}

} // namespace
