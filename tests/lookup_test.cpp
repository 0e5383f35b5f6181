#include <gtest/gtest.h>

#include <utility>

#include "tests/test_support.h"

namespace {

// root with children a (which has a child b) and a leaf v=1.
struct SmallTree {
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr a = AddBranch(root, "a");
  Tree_NodePtr b = AddBranch(a, "b");
  Tree_NodePtr v = AddLeaf(root, "v", "1");
  Tree_Node* Resolve(const char* path) { return root->GetRelativeNode(path, root).get(); }
};

}  // namespace

TEST(PathResolution, EmptyElementsEndTheWalkAndNamesMatchExactly) {
  SmallTree tree;
  AddBranch(tree.root, "a");  // a second a, at index 2: the first one keeps winning
  for (const char* path : {"", "\\a\\b"}) EXPECT_EQ(tree.root.get(), tree.Resolve(path)) << path;
  for (const char* path : {"a", "a\\", "a\\\\b"})
    EXPECT_EQ(tree.a.get(), tree.Resolve(path)) << path;
  for (const char* path : {"a\\c", "v\\x", "root\\a", "A", " a"})
    EXPECT_EQ(nullptr, tree.Resolve(path)) << path;
  EXPECT_EQ(tree.b.get(), tree.Resolve("a\\b"));
  EXPECT_EQ(tree.a.get(), tree.root->Get(RWCString("a"), tree.root.get()));
  EXPECT_EQ(nullptr, tree.root->Get(RWCString(), static_cast<Tree_Node*>(nullptr)));
}

TEST(PathResolution, ByRefResultsReferToTheStoredHandles) {
  SmallTree tree;
  Tree_NodePtr& root = tree.root;
  const long count_of_b = tree.b.UseCount();
  Tree_Path to_b("a\\b"), empty(""), to_leaf("v"), empty_on_leaf("");
  EXPECT_EQ(&tree.a->GetChildAt(0), &root->GetRelativeNodeByRef(to_b, root));
  EXPECT_EQ(count_of_b, tree.b.UseCount());
  EXPECT_EQ(&root, &root->GetRelativeNodeByRef(empty, root));
  EXPECT_EQ(&root->GetChildAt(0), &root->GetByRef(RWCString("a"), root));
  // The sub-tree walks refuse a leaf, also one named by the empty path.
  EXPECT_EQ(&Tree_Node::NULL_TREE_NODE_PTR, &root->GetRelativeSubTreeByRef(to_leaf, root));
  EXPECT_EQ(nullptr, tree.v->GetRelativeSubTree(empty_on_leaf, tree.v).get());
}

TEST(GetOrCreate, AppendsMissingBranchesOnceAndNeverIntoALeaf) {
  SmallTree tree;
  LogCapture log;  // keeps the refusal of Insert out of the test output
  Tree_NodePtr z = tree.root->GetOrCreateRelativeNode("x\\y\\z", tree.root);
  ASSERT_NE(nullptr, z.get());
  EXPECT_EQ("root\\x\\y\\z", z->GetPath().str());
  EXPECT_EQ(1, z->IsAllowsChildren());
  EXPECT_TRUE(z.IsProtected());
  // The lookup is exact, so " x" is not found; the new child is stored as "x".
  tree.root->GetOrCreateRelativeNode(" x", tree.root);
  EXPECT_EQ((std::vector<std::string>{"a", "v", "x", "x"}), ChildNames(tree.root));
  const int node_count = tree.root->GetNodeNum();
  EXPECT_EQ(z, tree.root->GetOrCreateRelativeNode("x\\y\\z", tree.root));
  EXPECT_EQ(tree.root, tree.root->GetOrCreateRelativeNode("", tree.root));
  // Through the leaf v: a parentless q outside the tree, which stays as it was; the leak
  // checker of the sanitizer builds proves that the node made for p died.
  Tree_NodePtr outside = tree.root->GetOrCreateRelativeNode("v\\p\\q", tree.root);
  ASSERT_NE(nullptr, outside.get());
  EXPECT_EQ("q", outside->GetPath().str());
  EXPECT_EQ(nullptr, outside->GetParent());
  EXPECT_EQ(node_count, tree.root->GetNodeNum());
  EXPECT_FALSE(tree.root->GetOrCreateUnProtectedRelativeNode("a\\w", tree.root).IsProtected());
}

TEST(IsPathHit, MatchesOneNameAndPointsAtTheRest) {
  const char path[] = "a\\b\\c";
  const char* rest = nullptr;
  EXPECT_FALSE(Tree_NodeTestAccess::IsPathHit(path, "a", rest));
  EXPECT_EQ(path + 2, rest);
  EXPECT_TRUE(Tree_NodeTestAccess::IsPathHit("a", "a", rest));
  EXPECT_EQ(nullptr, rest);
  const std::pair<const char*, const char*> misses[] = {
      {"ab", "a"}, {"a", "ab"}, {"A", "a"}, {nullptr, "a"}};
  for (const auto& [miss, name] : misses) {
    rest = path;
    EXPECT_FALSE(Tree_NodeTestAccess::IsPathHit(miss, name, rest)) << (miss ? miss : "null");
    EXPECT_EQ(nullptr, rest);
  }
}
