#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/algebra_support.h"

namespace {

using Lines = std::vector<std::string>;

}  // namespace

TEST(ChangeTree, NullWhenNothingChanged) {
  const Tree_NodePtr r = MakeBranch("r");
  EXPECT_EQ(nullptr, Tree_Node::GetChangesTreeNode(r).get());
  AddLeaf(r, "x", "1");
  AddLeaf(AddBranch(AddBranch(r, "a"), "b"), "y", "2");
  AddBranch(r, "empty");
  EXPECT_EQ(nullptr, Tree_Node::GetChangesTreeNode(r).get());
  // A leaf's own flag is not looked at.
  EXPECT_EQ(nullptr, Tree_Node::GetChangesTreeNode(MakeLeaf("x", "1", 1)).get());

  LogCapture log(3);
  EXPECT_EQ(nullptr, Tree_Node::GetChangesTreeNode(Tree_NodePtr()).get());
  EXPECT_EQ(1u, log.Texts(3).size());
}

TEST(ChangeTree, ChangeThreeLevelsDownGivesAChain) {
  const Tree_NodePtr r = MakeBranch("r");
  const Tree_NodePtr b = AddBranch(AddBranch(r, "a"), "b");
  AddLeaf(b, "v", "1", 1);
  AddLeaf(b, "w", "2");
  AddLeaf(AddBranch(r, "c"), "d", "3");
  AddLeaf(r, "e", "4");

  const Tree_NodePtr changes = Tree_Node::GetChangesTreeNode(r);
  ASSERT_NE(nullptr, changes.get());
  EXPECT_EQ((Lines{"0 r", "1 a", "2 b", "3 v=1/1"}), Dump(changes));
  EXPECT_EQ(nullptr, changes->GetParent());
  // Changes below a node inside a tree start from that node.
  EXPECT_EQ((Lines{"0 b", "1 v=1/1"}), Dump(Tree_Node::GetChangesTreeNode(b)));
}

TEST(ChangeTree, KeepsSourceOrderAndCopiesEveryFlagAsOne) {
  const Tree_NodePtr r = MakeBranch("r");
  const Tree_NodePtr s = AddBranch(r, "s");
  AddLeaf(s, "p", "1", 7);
  AddLeaf(s, "q", "2");
  AddLeaf(s, "u", "3", -1);
  AddLeaf(r, "x", "4", 1);
  delete s->SetTreeValue(new Tree_Value("on a branch", 1));
  s->GetChildAt(0)->SetSingleNodeComplete(false);
  const Lines before = Dump(r);

  const Tree_NodePtr changes = Tree_Node::GetChangesTreeNode(r);
  const Lines expected = {"0 r", "1 s", "2 p=1/1", "2 u=3/1", "1 x=4/1"};
  EXPECT_EQ(expected, Dump(changes));
  EXPECT_EQ(expected, Dump(Tree_Node::GetChangesTreeNode(r)));
  EXPECT_EQ(before, Dump(r));
  EXPECT_NE(s->GetChildAt(0).get(), changes->GetChildAt(0)->GetChildAt(0).get());
  // New nodes with fresh bookkeeping.
  EXPECT_FALSE(changes.IsProtected());
  changes->ExecuteOnEntireSubtree([](Tree_Node* node) {
    EXPECT_TRUE(node->IsSubtreeComplete());
    EXPECT_EQ(0, node->GetId());
  });
}

TEST(ChangeTree, DeepChainIsWalkedWithoutRecursion) {
  constexpr int kLevels = 100000;
  const Tree_NodePtr leaf = MakeLeaf("x", "1", 1);
  const Tree_NodePtr chain = MakeChain(kLevels, "c", leaf);
  AddLeaf(chain, "unchanged", "0");

  const Tree_NodePtr changes = Tree_Node::GetChangesTreeNode(chain);
  EXPECT_EQ(kLevels + 1, changes->GetNodeNum());
  EXPECT_EQ((Lines{"c"}), ChildNames(changes));
  EXPECT_EQ(kLevels - 1, LowestBranch(changes).first);

  leaf->GetTreeValue()->SetIsChange(0);
  EXPECT_EQ(nullptr, Tree_Node::GetChangesTreeNode(chain).get());
}
