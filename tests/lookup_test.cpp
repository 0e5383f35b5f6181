#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

// root with children a (which has a child b) and a leaf v=1.
struct SmallTree {
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr a = AddBranch(root, "a");
  Tree_NodePtr b = AddBranch(a, "b");
  Tree_NodePtr v = AddLeaf(root, "v", "1");
};

Tree_Node* Resolve(const SmallTree& tree, const char* path) {
  return tree.root->GetRelativeNode(RWCString(path), tree.root).get();
}

}  // namespace

TEST(PathResolution, EmptyElementsEndTheWalkWhereItStands) {
  SmallTree tree;
  EXPECT_EQ(tree.root.get(), Resolve(tree, ""));
  EXPECT_EQ(tree.b.get(), Resolve(tree, "a\\b"));
  EXPECT_EQ(tree.a.get(), Resolve(tree, "a\\"));
  EXPECT_EQ(tree.root.get(), Resolve(tree, "\\a\\b"));
  EXPECT_EQ(tree.a.get(), Resolve(tree, "a\\\\b"));
  EXPECT_EQ(nullptr, Resolve(tree, "a\\c"));
  EXPECT_EQ(nullptr, Resolve(tree, "v\\x"));
  // The starting node's own name is not part of a path.
  EXPECT_EQ(nullptr, Resolve(tree, "root\\a"));
  AddBranch(tree.root, "root");
  EXPECT_EQ(nullptr, Resolve(tree, "root\\a"));
  EXPECT_EQ(tree.root->GetChildAt(2).get(), Resolve(tree, "root"));
}

TEST(PathResolution, NamesMatchExactlyAndTheLowestIndexWins) {
  SmallTree tree;
  Tree_NodePtr second_a = AddBranch(tree.root, "a");
  EXPECT_EQ(tree.a.get(), Resolve(tree, "a"));
  EXPECT_EQ(nullptr, Resolve(tree, "A"));
  EXPECT_EQ(nullptr, Resolve(tree, " a"));
  EXPECT_EQ(nullptr, Resolve(tree, "a "));

  // The one-level lookups agree.
  EXPECT_EQ(tree.a.get(), tree.root->Get(RWCString("a"), tree.root.get()));
  EXPECT_EQ(nullptr, tree.root->Get(RWCString("A"), tree.root.get()));
  EXPECT_EQ(tree.a, tree.root->Get(RWCString("a"), tree.root));
  EXPECT_EQ(nullptr, tree.root->Get(RWCString("c"), tree.root).get());
  // The raw lookup hands back its second argument for an empty name, even a null one.
  EXPECT_EQ(nullptr, tree.root->Get(RWCString(), static_cast<Tree_Node*>(nullptr)));
  EXPECT_EQ(tree.b.get(), tree.root->Get(RWCString(), tree.b.get()));
}

TEST(PathResolution, ByRefResultsReferToTheStoredHandles) {
  SmallTree tree;
  Tree_NodePtr& root = tree.root;
  EXPECT_EQ(&root->GetChildAt(0), &root->GetByRef(RWCString("a"), root));
  EXPECT_EQ(&root, &root->GetByRef(RWCString(), root));
  EXPECT_EQ(&Tree_Node::NULL_TREE_NODE_PTR, &root->GetByRef(RWCString("c"), root));

  Tree_Path to_b("a\\b");
  EXPECT_EQ(&tree.a->GetChildAt(0), &root->GetRelativeNodeByRef(to_b, root));
  Tree_Path empty("");
  EXPECT_EQ(&root, &root->GetRelativeNodeByRef(empty, root));
  Tree_Path missing("a\\c");
  EXPECT_EQ(&Tree_Node::NULL_TREE_NODE_PTR, &root->GetRelativeNodeByRef(missing, root));

  // No reference count changes on the way.
  const long count_of_b = tree.b.UseCount();
  Tree_Path again("a\\b");
  root->GetRelativeNodeByRef(again, root);
  EXPECT_EQ(count_of_b, tree.b.UseCount());
}

TEST(PathResolution, SubTreeWalksRefuseLeaves) {
  SmallTree tree;
  Tree_Path to_leaf("v");
  EXPECT_EQ(nullptr, tree.root->GetRelativeSubTree(to_leaf, tree.root).get());
  Tree_Path to_leaf_by_ref("v");
  EXPECT_EQ(&Tree_Node::NULL_TREE_NODE_PTR,
            &tree.root->GetRelativeSubTreeByRef(to_leaf_by_ref, tree.root));
  Tree_Path to_a("a");
  EXPECT_EQ(&tree.root->GetChildAt(0), &tree.root->GetRelativeSubTreeByRef(to_a, tree.root));
  Tree_Path empty("");
  EXPECT_EQ(tree.root, tree.root->GetRelativeSubTree(empty, tree.root));
  Tree_Path empty_on_leaf("");
  EXPECT_EQ(nullptr, tree.v->GetRelativeSubTree(empty_on_leaf, tree.v).get());
}

TEST(GetOrCreate, AppendsMissingBranchesAndReusesThemOnTheNextCall) {
  SmallTree tree;
  Tree_NodePtr z = tree.root->GetOrCreateRelativeNode(RWCString("x\\y\\z"), tree.root);
  ASSERT_NE(nullptr, z.get());
  EXPECT_EQ("root\\x\\y\\z", z->GetPath().str());
  EXPECT_EQ((std::vector<std::string>{"a", "v", "x"}), ChildNames(tree.root));
  EXPECT_EQ(1, z->IsAllowsChildren());
  EXPECT_EQ(1, z->GetParent()->IsAllowsChildren());
  EXPECT_TRUE(z.IsProtected());
  const int node_count = tree.root->GetNodeNum();

  EXPECT_EQ(z, tree.root->GetOrCreateRelativeNode(RWCString("x\\y\\z"), tree.root));
  EXPECT_EQ(z, tree.root->GetOrCreateUnProtectedRelativeNode(RWCString("x\\y\\z"), tree.root));
  EXPECT_EQ(tree.root, tree.root->GetOrCreateRelativeNode(RWCString(), tree.root));
  EXPECT_EQ(tree.a, tree.root->GetOrCreateRelativeNode(RWCString("a\\\\q"), tree.root));
  EXPECT_EQ(node_count, tree.root->GetNodeNum());

  // Existing nodes keep their protection; new unprotected ones are unprotected.
  EXPECT_FALSE(tree.root->GetOrCreateRelativeNode(RWCString("a"), tree.root).IsProtected());
  EXPECT_FALSE(
      tree.root->GetOrCreateUnProtectedRelativeNode(RWCString("a\\w"), tree.root).IsProtected());
}

TEST(GetOrCreate, StripsBlanksSoTheSecondCallAddsADuplicate) {
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr first = root->GetOrCreateRelativeNode(RWCString(" x"), root);
  Tree_NodePtr second = root->GetOrCreateRelativeNode(RWCString(" x"), root);
  EXPECT_EQ((std::vector<std::string>{"x", "x"}), ChildNames(root));
  EXPECT_NE(first, second);
  EXPECT_EQ(first, root->GetRelativeNode(RWCString("x"), root));
}

TEST(GetOrCreate, AWalkThroughALeafReturnsNullAndKeepsNothing) {
  SmallTree tree;
  LogCapture log;
  EXPECT_EQ(nullptr, tree.root->GetOrCreateRelativeNode(RWCString("v\\p\\q"), tree.root).get());
  EXPECT_EQ(0, tree.v->GetChildCount());
  EXPECT_EQ(4, tree.root->GetNodeNum());
  EXPECT_TRUE(log.Has(
      "Insert(Tree_NodePtr & new_child, int child_index) : this node does not allowed children, "
      "return FALSE v\n",
      3));
  // The leak checker of the sanitizer builds proves that the node made for p died.
}

TEST(IsPathHit, MatchesOneNameAndPointsAtTheRest) {
  const char* rest = "unset";
  EXPECT_TRUE(Tree_NodeTestAccess::IsPathHit("a", "a", rest));
  EXPECT_EQ(nullptr, rest);

  const char path[] = "a\\b\\c";
  EXPECT_FALSE(Tree_NodeTestAccess::IsPathHit(path, "a", rest));
  EXPECT_EQ(path + 2, rest);
  EXPECT_STREQ("b\\c", rest);

  struct Miss {
    const char* path;
    const char* name;
  };
  for (const Miss& miss : {Miss{"ab", "a"}, Miss{"a", "ab"}, Miss{"A", "a"}, Miss{"b\\a", "a"},
                           Miss{"", "a"}, Miss{nullptr, "a"}, Miss{"a", nullptr}}) {
    rest = "unset";
    EXPECT_FALSE(Tree_NodeTestAccess::IsPathHit(miss.path, miss.name, rest))
        << (miss.path ? miss.path : "null") << " / " << (miss.name ? miss.name : "null");
    EXPECT_EQ(nullptr, rest);
  }
}
