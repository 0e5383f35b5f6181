#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"

TEST(Prune, RemovesBranchesWithoutALeafKeepsOrderAndCompletesTheNode) {
  // n: [x, c: [c1: [c2 (incomplete)]], s: [t, deep: [deeper: [leaf]]], y].
  const Tree_NodePtr n = MakeBranch("n");
  AddLeaf(n, "x", "1");
  AddBranch(AddBranch(AddBranch(n, "c"), "c1"), "c2")->SetSingleNodeComplete(false);
  const Tree_NodePtr s = AddBranch(n, "s");
  AddBranch(s, "t");
  AddLeaf(AddBranch(AddBranch(s, "deep"), "deeper"), "leaf", "2");
  AddLeaf(n, "y", "3");
  NotifyCounter callback;
  n->AddSubtreeCompleteNotifier(&callback);

  EXPECT_TRUE(n->RemoveEmptyBranches());
  EXPECT_EQ((Lines{"0 n", "1 x=1/0", "1 s", "2 deep", "3 deeper", "4 leaf=2/0", "1 y=3/0"}),
            Dump(n));
  EXPECT_TRUE(n->IsSubtreeComplete());
  EXPECT_EQ(1, callback.notified);
}

TEST(Prune, SaysWhetherTheNodeStillHoldsAnything) {
  // Each of n, a and b is left empty by its own pruning.
  const Tree_NodePtr n = MakeBranch("n");
  AddBranch(AddBranch(AddBranch(n, "a"), "b"), "c");
  {
    LogCapture log;
    EXPECT_FALSE(n->RemoveEmptyBranches());
    EXPECT_EQ(Lines(3, "GetTreeValue(): return NULL\n"), log.Texts());
  }
  delete n->SetTreeValue(new Tree_Value("v", 0));
  LogCapture log;
  EXPECT_TRUE(n->RemoveEmptyBranches());
  EXPECT_EQ(Lines{}, log.Texts());
}

namespace {

// Records, at every MightNeedMove, the child counts of the watched node and of `outer`.
struct CountRecorder : Tree_NotifyList::Callback {
  void Notify() override {}
  void MightNeedMove(const Tree_NodePtr& node) override {
    seen.push_back(std::to_string(node->GetChildCount()) + "/" +
                   std::to_string(outer->GetChildCount()));
  }
  const Tree_Node* outer = nullptr;
  Lines seen;
};

}  // namespace

TEST(Prune, WideNodesKeepOrderAndCountersAndCallbacksSeeEachRemovalMade) {
  // n: 60 children; i % 3 == 0: leaf, 1: empty branch (every 7th incomplete), 2: a branch
  // holding only an empty branch. Child 31 is w: [we, wleaf], whose notifier watches it.
  const Tree_NodePtr n = MakeBranch("n");
  Lines expected{"0 n"};
  CountRecorder recorder;
  recorder.outer = n.get();
  for (int i = 0; i < 60; ++i) {
    const std::string name = "c" + std::to_string(i);
    if (i == 31) {
      const Tree_NodePtr w = AddBranch(n, name);
      AddBranch(w, "we");
      AddLeaf(w, "wleaf", "x");
      w->AddSubtreeCompleteNotifier(&recorder);
      expected.insert(expected.end(), {"1 " + name, "2 wleaf=x/0"});
    } else if (i % 3 == 0) {
      AddLeaf(n, name, "v");
      expected.push_back("1 " + name + "=v/0");
    } else if (i % 3 == 1) {
      AddBranch(n, name)->SetSingleNodeComplete(i % 7 != 0);
    } else {
      AddBranch(AddBranch(n, name), "inner");
    }
  }
  EXPECT_FALSE(n->IsSubtreeComplete());
  EXPECT_TRUE(n->RemoveEmptyBranches());
  EXPECT_EQ(expected, Dump(n));
  EXPECT_EQ(n->GetChildCount(), Tree_NodeTestAccess::CompleteSons(*n));
  EXPECT_TRUE(n->IsSubtreeComplete());
  // When w is pruned, the children of n above it (c32..c59) are already pruned: 9 leaves of
  // 28 stay, so n holds 32 + 9.
  EXPECT_EQ((Lines{"1/41"}), recorder.seen);
  EXPECT_EQ(n.get(), n->Get(RWCString("c30"), n.get())->GetParent());
  EXPECT_EQ(nullptr, n->Get(RWCString("c29"), n.get()));
}
