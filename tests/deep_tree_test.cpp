#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"

namespace {

constexpr int kDepth = 1000000;

// A chain of `depth` nodes below `root`, built with Add; returns the deepest node.
Tree_NodePtr BuildChain(const Tree_NodePtr& root, int depth) {
  Tree_NodePtr last = root;
  for (int i = 0; i < depth; ++i) {
    Tree_NodePtr next = MakeBranch("n");
    last->Add(next);
    last = next;
  }
  return last;
}

}  // namespace

// Every walk over a subtree loops instead of recursing: a chain a million levels deep would
// exhaust the thread's stack otherwise (the sanitizer builds have larger frames still).
TEST(DeepTree, MillionLevelChainIsBuiltWalkedAndDestroyed) {
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr deepest = BuildChain(root, kDepth);
  EXPECT_EQ(kDepth + 1, root->GetNodeNum());

  int visited = 0;
  root->ExecuteOnEntireSubtree([&](Tree_Node*) { ++visited; });
  EXPECT_EQ(kDepth + 1, visited);

  const RWCString path = deepest->GetPath();
  EXPECT_EQ(4u + 2u * kDepth, path.length());
  EXPECT_EQ(0, path.view().compare(0, 7, "root\\n\\"));

  int toggle = 1;
  Tree_Node::ChangeTreeNodePtrProtection(root, toggle);
  EXPECT_TRUE(deepest.IsProtected());

  // Completion runs the whole height in both directions.
  deepest->SetSingleNodeComplete(false);
  root->SetSingleNodeComplete(false);  // has a child: left as it is by the walk below
  EXPECT_FALSE(root->IsSubtreeComplete());
  root->SetSubtreeCompleteDownwards();
  EXPECT_TRUE(root->IsSubtreeComplete());
  EXPECT_FALSE(root->IsSingleNodeComplete());

  Tree_NodePtr survivor = deepest;
  deepest = Tree_NodePtr();
  root = Tree_NodePtr();  // destroys the chain down to the survivor
  EXPECT_EQ(nullptr, survivor->GetParent());
  EXPECT_EQ(RWCString("n"), survivor->GetPath());
}
