#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_support.h"

using Names = std::vector<std::string>;

TEST(Children, AddAppendsAndInsertPlacesAtTheIndex) {
  Tree_NodePtr root = MakeBranch("root");
  EXPECT_EQ(1, root->Add(MakeBranch("a")));
  EXPECT_EQ(1, root->Insert(MakeBranch("b"), 0));
  EXPECT_EQ(1, root->Insert(MakeBranch("c"), 2));
  EXPECT_EQ((Names{"b", "a", "c"}), ChildNames(root));
  EXPECT_EQ(root.get(), root->GetChildAt(1)->GetParent());
}

TEST(Children, LeafRefusesChildrenAndNamesItselfInTheMessage) {
  LogCapture capture;
  Tree_NodePtr leaf = MakeLeaf("port", "80");
  EXPECT_EQ(0, leaf->Add(MakeBranch("x")));
  EXPECT_TRUE(capture.Has(
      "Insert(Tree_NodePtr & new_child, int child_index) : this node does not allowed children, "
      "return FALSE port\n",
      3));
  EXPECT_EQ(0, leaf->GetChildCount());
}

TEST(Children, NullChildIsRefused) {
  LogCapture capture;
  Tree_NodePtr root = MakeBranch("root");
  EXPECT_EQ(0, root->Add(Tree_NodePtr()));
  EXPECT_EQ(0, root->Insert(Tree_NodePtr(), 0));
  EXPECT_EQ(Names({"Add(Tree_NodePtr & new_child) : new_child is null , return FALSE\n",
                   "Insert(Tree_NodePtr & new_child, int child_index) : new_child is NULL , "
                   "return FALSE\n"}),
            capture.Texts(3));
  EXPECT_EQ(0, root->GetChildCount());
}

TEST(Children, CyclesAreRefusedBeforeAnythingChanges) {
  LogCapture capture;
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr a = AddBranch(root, "a");
  Tree_NodePtr b = AddBranch(a, "b");
  EXPECT_EQ(0, b->Add(root));
  EXPECT_EQ(0, b->Add(b));
  const std::string refusal =
      "Insert(Tree_NodePtr & new_child, int child_index) : new_child is this node or one of its "
      "ancestors, return FALSE ";
  EXPECT_EQ(Names({refusal + "root\n", refusal + "b\n"}), capture.Texts(3));
  EXPECT_EQ(nullptr, root->GetParent());
  EXPECT_EQ(3, root->GetNodeNum());
}

TEST(Children, InsertMovesAChildBetweenParents) {
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr from = AddBranch(root, "from");
  Tree_NodePtr to = AddBranch(root, "to");
  AddBranch(to, "existing");
  Tree_NodePtr moving = AddBranch(from, "moving");
  moving->SetSingleNodeComplete(false);
  ASSERT_FALSE(from->IsSubtreeComplete());

  EXPECT_EQ(1, to->Insert(moving, 0));
  EXPECT_EQ(0, from->GetChildCount());
  EXPECT_TRUE(from->IsSubtreeComplete());
  EXPECT_EQ(Names({"moving", "existing"}), ChildNames(to));
  EXPECT_EQ(to.get(), moving->GetParent());
  EXPECT_FALSE(to->IsSubtreeComplete());
  EXPECT_EQ(1, Tree_NodeTestAccess::CompleteSons(*to));
  EXPECT_EQ(1, Tree_NodeTestAccess::CompleteSons(*root));
}

TEST(Children, MovingTheStoredHandleItselfIsSafe) {
  // The argument refers to the handle inside the old parent's vector, which the move deletes.
  Tree_NodePtr from = MakeBranch("from");
  Tree_NodePtr to = MakeBranch("to");
  {
    Tree_NodePtr child = AddBranch(from, "child");
    AddLeaf(child, "leaf", "1");
  }
  EXPECT_EQ(1, to->Add(from->GetChildAt(0)));
  EXPECT_EQ(0, from->GetChildCount());
  ASSERT_EQ(1, to->GetChildCount());
  EXPECT_EQ(RWCString("to\\child\\leaf"), to->GetChildAt(0)->GetChildAt(0)->GetPath());
}

TEST(Children, MovingWithinTheSameParent) {
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr a = AddBranch(root, "a");
  AddBranch(root, "b");
  AddBranch(root, "c");
  EXPECT_EQ(1, root->Add(a));  // appends: a moves to the end
  EXPECT_EQ(Names({"b", "c", "a"}), ChildNames(root));
  EXPECT_EQ(1, root->Insert(a, 1));
  EXPECT_EQ(Names({"b", "a", "c"}), ChildNames(root));
  EXPECT_THROW(root->Insert(a, 3), RWBoundsErr);  // only 2 places once a has left
  EXPECT_EQ(Names({"b", "a", "c"}), ChildNames(root));
  EXPECT_EQ(3, Tree_NodeTestAccess::CompleteSons(*root));
}

TEST(Children, InsertOutOfRangeRaisesAndChangesNothing) {
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr old_parent = MakeBranch("old");
  Tree_NodePtr child = AddBranch(old_parent, "child");
  EXPECT_THROW(root->Insert(child, 1), RWBoundsErr);
  EXPECT_THROW(root->Insert(child, -1), RWBoundsErr);
  EXPECT_EQ(old_parent.get(), child->GetParent());
  EXPECT_EQ(1, old_parent->GetChildCount());
  EXPECT_EQ(0, root->GetChildCount());
  EXPECT_EQ(1, root->Insert(child, 0));  // index 0 into a node without children works
}

TEST(Children, RemoveByIndexReportsMissingVectorAndRaisesOutOfRange) {
  LogCapture capture;
  Tree_NodePtr root = MakeBranch("root");
  EXPECT_EQ(0, root->Remove(0));
  EXPECT_TRUE(capture.Has("Remove(int child_index) : children vec is null, return FALSE\n", 7));

  Tree_NodePtr child = AddBranch(root, "child");
  EXPECT_EQ(1, root->Remove(0));
  EXPECT_THROW(root->Remove(0), RWBoundsErr);  // the vector exists but is empty
  EXPECT_THROW(root->Remove(-1), RWBoundsErr);
}

TEST(Children, RemovingTheOnlyHandleDestroysTheChild) {
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr grandchild;
  {
    Tree_NodePtr child = AddBranch(root, "child");
    grandchild = AddLeaf(child, "leaf", "1");
  }
  Tree_NodePtr kept = AddBranch(root, "kept");
  EXPECT_EQ(1, root->Remove(0));
  EXPECT_EQ(nullptr, grandchild->GetParent());  // its parent died with the vector's handle
  EXPECT_EQ(1, root->Remove(kept));
  EXPECT_EQ(nullptr, kept->GetParent());  // still held here: a root now
  EXPECT_EQ(RWCString("kept"), kept->GetPath());
}

TEST(Children, RemoveByHandleRefusesNullAndRaisesForStrangers) {
  LogCapture capture;
  Tree_NodePtr root = MakeBranch("root");
  EXPECT_EQ(0, root->Remove(Tree_NodePtr()));
  EXPECT_TRUE(capture.Has("Remove(Tree_NodePtr & a_child): a_child is NULL\n", 3));

  Tree_NodePtr stranger = MakeBranch("stranger");
  EXPECT_EQ(0, root->Remove(stranger));  // no vector yet: GetIndex, then Remove(int), report
  EXPECT_TRUE(
      capture.Has("GetIndex(Tree_NodePtr & a_child) : children vec is null, return -1\n", 3));
  AddBranch(root, "child");
  EXPECT_THROW(root->Remove(stranger), RWBoundsErr);
  EXPECT_EQ(1, root->GetChildCount());
}

TEST(Children, RemoveByNameTakesTheFirstExactMatchAmongChildrenOnly) {
  LogCapture capture;
  Tree_NodePtr root = MakeBranch("root");
  EXPECT_EQ(0, root->Remove(RWCString("a")));  // no children: no message
  AddBranch(root, "A");
  Tree_NodePtr first_a = AddBranch(root, "a");
  AddBranch(first_a, "g");
  AddBranch(root, "a");
  EXPECT_EQ(0, root->Remove(RWCString("g")));
  EXPECT_EQ(1, root->Remove(RWCString("a")));
  EXPECT_EQ(nullptr, first_a->GetParent());
  EXPECT_EQ(Names({"A", "a"}), ChildNames(root));
  EXPECT_EQ(0, root->Remove(RWCString("")));
  EXPECT_EQ(Names{"Remove(RWCString & path) : path is null, return FALSE\n"}, capture.Texts(3));
}

TEST(Children, ChildAtOutOfRangeIsTheSharedNullHandle) {
  LogCapture capture;
  Tree_NodePtr root = MakeBranch("root");
  AddBranch(root, "a");
  EXPECT_EQ(&Tree_Node::NULL_TREE_NODE_PTR, &root->GetChildAt(-1));
  EXPECT_EQ(&Tree_Node::NULL_TREE_NODE_PTR, &root->GetChildAt(1));
  EXPECT_EQ(Names({"GetChildAt : index is less then 0,return null Tree_NodePtr\n",
                   "GetChildAt : index >= GetChildCount(),return null Tree_NodePtr\n"}),
            capture.Texts(3));
  EXPECT_EQ(0, root->GetIndex(root->GetChildAt(0)));
  EXPECT_EQ(-1, root->GetIndex(MakeBranch("a")));  // same name, other node
}

TEST(Children, AncestryTests) {
  LogCapture capture;
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr child = AddBranch(root, "child");
  Tree_NodePtr grandchild = AddBranch(child, "grandchild");
  EXPECT_EQ(1, child->IsNodeAncestor(child));
  EXPECT_EQ(1, grandchild->IsNodeAncestor(root));
  EXPECT_EQ(0, child->IsNodeAncestor(grandchild));
  EXPECT_EQ(0, child->IsNodeAncestor(Tree_NodePtr()));
  EXPECT_EQ(1, root->IsNodeChild(child));
  EXPECT_EQ(0, root->IsNodeChild(grandchild));
  EXPECT_EQ(0, grandchild->IsNodeChild(child));
  EXPECT_EQ(0, root->IsNodeChild(Tree_NodePtr()));
  EXPECT_TRUE(capture.Has("END IsNodeAncestor(Tree_NodePtr & another_node), return TRUE\n", 7));
  EXPECT_TRUE(capture.Has("END IsNodeAncestor(Tree_NodePtr & another_node), return FALSE\n", 7));
  EXPECT_EQ(Names({"IsNodeAncestor(Tree_NodePtr & another_node) : another_node is NULL\n",
                   "IsNodeChild(  Tree_NodePtr & node): node is NULL, return FALSE\n"}),
            capture.Texts(3));
}

TEST(Children, CountingAndVisitingArePreOrder) {
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr a = AddBranch(root, "a");
  AddBranch(a, "c");
  AddLeaf(root, "b", "1");
  EXPECT_EQ(4, root->GetNodeNum());
  EXPECT_EQ(1, root->GetChildAt(1)->GetNodeNum());

  Names visited;
  root->ExecuteOnEntireSubtree(
      [&](Tree_Node* node) { visited.push_back(node->GetKeyName().str()); });
  EXPECT_EQ(Names({"root", "a", "c", "b"}), visited);
}

TEST(Children, VisitSeesChildrenAddedOnTheWay) {
  Tree_NodePtr root = MakeBranch("root");
  AddBranch(root, "a");
  Names visited;
  root->ExecuteOnEntireSubtree([&](Tree_Node* node) {
    visited.push_back(node->GetKeyName().str());
    if (node->GetKeyName() == "a") node->Add(MakeBranch("added"));
  });
  EXPECT_EQ(Names({"root", "a", "added"}), visited);
}

TEST(Children, ProtectionReachesEveryFamilyOfTheSubtree) {
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr a = AddBranch(root, "a");
  Tree_NodePtr leaf = AddLeaf(a, "leaf", "1");
  int toggle = 1;
  Tree_Node::ChangeTreeNodePtrProtection(root, toggle);
  EXPECT_TRUE(root.IsProtected());
  EXPECT_TRUE(a.IsProtected());
  EXPECT_TRUE(leaf.IsProtected());
  toggle = 0;
  EXPECT_FALSE(leaf.IsProtected());
  Tree_Node::ChangeTreeNodePtrProtection(Tree_NodePtr(), toggle);  // a null handle: nothing
}
