#include <gtest/gtest.h>

#include "tests/test_support.h"

TEST(ChangeTree, HoldsTheChangedLeavesAndTheBranchesAboveThem) {
  // r: [a: [b (a value set on it): [v=1 (flag 7), w=2, u=3 (flag 1)]], c: [d=4], e=5].
  const Tree_NodePtr r = MakeBranch("r");
  const Tree_NodePtr b = AddBranch(AddBranch(r, "a"), "b");
  const Tree_NodePtr v = AddLeaf(b, "v", "1", 7);
  AddLeaf(b, "w", "2");
  const Tree_NodePtr u = AddLeaf(b, "u", "3", 1);
  delete b->SetTreeValue(new Tree_Value("on b", 1));
  AddLeaf(AddBranch(r, "c"), "d", "4");
  AddLeaf(r, "e", "5");
  const Lines before = Dump(r);

  EXPECT_EQ((Lines{"0 r", "1 a", "2 b", "3 v=1/1", "3 u=3/1"}),
            Dump(Tree_Node::GetChangesTreeNode(r)));
  EXPECT_EQ(before, Dump(r));
  // Without a changed leaf below, there is no change tree; a starting leaf's flag is not read.
  v->GetTreeValue()->SetIsChange(0);
  u->GetTreeValue()->SetIsChange(0);
  EXPECT_EQ(nullptr, Tree_Node::GetChangesTreeNode(r).get());
  EXPECT_EQ(nullptr, Tree_Node::GetChangesTreeNode(MakeLeaf("x", "1", 1)).get());
}
