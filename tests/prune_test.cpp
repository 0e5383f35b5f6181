#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/algebra_support.h"

namespace {

using Lines = std::vector<std::string>;

const char kLeftEmpty[] = "GetTreeValue(): return NULL\n";

// Records "<name>:notify" and "<name>:move" in a shared list of events.
class EventRecorder : public Tree_NotifyList::Callback {
 public:
  EventRecorder(std::string name, std::vector<std::string>& events)
      : m_name(std::move(name)), m_events(events) {}
  void Notify() override { m_events.push_back(m_name + ":notify"); }
  void MightNeedMove(const Tree_NodePtr& /*node*/) override {
    m_events.push_back(m_name + ":move");
  }

 private:
  std::string m_name;
  std::vector<std::string>& m_events;
};

}  // namespace

TEST(Prune, NodeLeftEmptyReturnsFalseAndSaysSo) {
  const Tree_NodePtr n = MakeBranch("n");
  {
    LogCapture log;
    EXPECT_FALSE(n->RemoveEmptyBranches());
    EXPECT_EQ((Lines{kLeftEmpty}), log.Texts());
  }
  // Three empty branches in a chain go whole; b and a are each left empty by their own
  // pruning, and so is n, unless it holds a value.
  AddBranch(AddBranch(AddBranch(n, "a"), "b"), "c");
  {
    LogCapture log;
    EXPECT_FALSE(n->RemoveEmptyBranches());
    EXPECT_EQ(0, n->GetChildCount());
    EXPECT_EQ((Lines{kLeftEmpty, kLeftEmpty, kLeftEmpty}), log.Texts());
  }
  AddBranch(AddBranch(AddBranch(n, "a"), "b"), "c");
  delete n->SetTreeValue(new Tree_Value("v", 0));
  {
    LogCapture log;
    EXPECT_TRUE(n->RemoveEmptyBranches());
    EXPECT_EQ(0, n->GetChildCount());
    EXPECT_EQ((Lines{kLeftEmpty, kLeftEmpty}), log.Texts());
  }
}

TEST(Prune, RemovesEveryBranchWithoutALeafAndKeepsOrder) {
  const Tree_NodePtr n = MakeBranch("n");
  AddBranch(n, "e1");
  AddLeaf(n, "x", "1");
  AddBranch(AddBranch(AddBranch(n, "c"), "c1"), "c2");
  const Tree_NodePtr s = AddBranch(n, "s");
  AddBranch(s, "t");
  AddLeaf(AddBranch(AddBranch(s, "deep"), "deeper"), "leaf", "2");
  AddBranch(AddBranch(s, "deep2"), "u");
  const Tree_NodePtr valued = AddBranch(n, "valued");
  delete valued->SetTreeValue(new Tree_Value("v", 1));
  AddBranch(valued, "inner");
  AddLeaf(n, "y", "3");

  EXPECT_TRUE(n->RemoveEmptyBranches());
  EXPECT_EQ((Lines{"0 n", "1 x=1/0", "1 s", "2 deep", "3 deeper", "4 leaf=2/0", "1 y=3/0"}),
            Dump(n));

  // Leaves only: nothing changes.
  const Tree_NodePtr leaves = MakeBranch("leaves");
  AddLeaf(leaves, "a", "1");
  AddLeaf(leaves, "b", "2");
  const Lines before = Dump(leaves);
  EXPECT_TRUE(leaves->RemoveEmptyBranches());
  EXPECT_EQ(before, Dump(leaves));
}

TEST(Prune, RemovingAnIncompleteBranchCompletesItsAncestors) {
  // p: [n: [x, e: [f: [g]]]] with g incomplete, so f, e, n and p are incomplete.
  const Tree_NodePtr p = MakeBranch("p");
  const Tree_NodePtr n = AddBranch(p, "n");
  AddLeaf(n, "x", "1");
  const Tree_NodePtr f = AddBranch(AddBranch(n, "e"), "f");
  AddBranch(f, "g")->SetSingleNodeComplete(false);
  ASSERT_FALSE(p->IsSubtreeComplete());

  std::vector<std::string> events;
  EventRecorder on_f("f", events);
  EventRecorder on_n("n", events);
  EventRecorder on_p("p", events);
  f->AddSubtreeCompleteNotifier(&on_f);
  n->AddSubtreeCompleteNotifier(&on_n);
  p->AddSubtreeCompleteNotifier(&on_p);

  EXPECT_TRUE(n->RemoveEmptyBranches());
  EXPECT_EQ((Lines{"0 n", "1 x=1/0"}), Dump(n));
  EXPECT_TRUE(n->IsSubtreeComplete());
  EXPECT_TRUE(p->IsSubtreeComplete());
  // Removing g completes f, e, n and p at once, bottom up. Each callback hears Notify once
  // (and leaves its list), after hearing that its node's count of complete children changed.
  EXPECT_EQ((Lines{"f:notify", "n:move", "n:notify", "p:move", "p:notify"}), events);
}

TEST(Prune, DeepEmptyChainsBesideADeepLeaf) {
  constexpr int kLevels = 100000;
  const Tree_NodePtr n = MakeBranch("n");
  n->Add(MakeChain(kLevels, "empty", Tree_NodePtr()));
  n->Add(MakeChain(kLevels, "full", MakeLeaf("x", "1")));
  n->Add(MakeChain(kLevels, "empty2", Tree_NodePtr()));

  EXPECT_TRUE(n->RemoveEmptyBranches());
  EXPECT_EQ((Lines{"full"}), ChildNames(n));
  EXPECT_EQ(1 + kLevels + 1, n->GetNodeNum());
  EXPECT_EQ(kLevels, LowestBranch(n).first);
}
