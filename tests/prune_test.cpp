#include <gtest/gtest.h>

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
