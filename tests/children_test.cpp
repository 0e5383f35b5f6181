#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_support.h"

using Names = std::vector<std::string>;

TEST(Children, RefusalsAreLoggedAndChangeNothing) {
  LogCapture capture;
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr child = AddBranch(root, "child");
  Tree_NodePtr leaf = AddLeaf(child, "port", "80");
  capture.Clear();
  EXPECT_EQ(0, leaf->Add(MakeBranch("x")));
  EXPECT_EQ(0, child->Add(root));  // would make a cycle
  EXPECT_EQ(0, child->Add(child));
  const std::string insert = "Insert(Tree_NodePtr & new_child, int child_index) : ";
  const std::string cycle = "new_child is this node or one of its ancestors, return FALSE ";
  EXPECT_EQ(Names({insert + "this node does not allowed children, return FALSE port\n",
                   insert + cycle + "root\n", insert + cycle + "child\n"}),
            capture.Texts(3));
  EXPECT_EQ(3, root->GetNodeNum());
}

TEST(Children, AddOfAGivenUpHandleMovesItInAsAddWould) {
  Tree_NodePtr root = MakeBranch("root");
  AddLeaf(root, "first", "1");
  Tree_NodePtr fresh = MakeBranch("fresh");
  Tree_Node* const raw = fresh.get();
  fresh->SetSingleNodeComplete(false);
  EXPECT_EQ(1, root->Add(std::move(fresh)));
  EXPECT_EQ(nullptr, fresh.get());
  EXPECT_EQ(raw, root->GetChildAt(1).get());
  EXPECT_EQ(root.get(), raw->GetParent());
  EXPECT_FALSE(root->IsSubtreeComplete());
  EXPECT_EQ(raw, root->GetRelativeNode("fresh", root).get());
  // A node with a parent leaves it, as with Add; the given-up handle is emptied too.
  Tree_NodePtr other = MakeBranch("other");
  Tree_NodePtr moved = root->GetChildAt(1);
  EXPECT_EQ(1, other->Add(std::move(moved)));
  EXPECT_EQ(nullptr, moved.get());
  EXPECT_EQ(1, root->GetChildCount());
  EXPECT_TRUE(root->IsSubtreeComplete());
  EXPECT_EQ(other.get(), raw->GetParent());
  raw->SetSingleNodeComplete(true);
  EXPECT_TRUE(other->IsSubtreeComplete());
  // Refused (a cycle, a leaf parent): nothing changes and the caller keeps its handle.
  Tree_NodePtr up = other;
  EXPECT_EQ(0, raw->Add(std::move(up)));
  EXPECT_EQ(other.get(), up.get());
  Tree_NodePtr leaf = root->GetChildAt(0);
  Tree_NodePtr kept = MakeBranch("kept");
  EXPECT_EQ(0, leaf->Add(std::move(kept)));
  ASSERT_NE(nullptr, kept.get());
  EXPECT_EQ(nullptr, kept->GetParent());
  EXPECT_EQ(2, other->GetNodeNum());
  // The inline accessors see the same child and check the index as at() does.
  EXPECT_EQ(raw, other->ChildNodeAt(0));
  EXPECT_EQ(&other->GetChildAt(0), other->ChildHandleAt(0));
  EXPECT_THROW(other->ChildNodeAt(1), RWBoundsErr);
  EXPECT_THROW(raw->ChildNodeAt(0), RWBoundsErr);
  // A child made in place keeps its name as given, its value and kind, and counts as
  // complete; a name with blanks and a leaf parent take the constructor's and Add's ways.
  Tree_Node* made =
      other->AddNewChild(RWCString("made"), new Tree_Value("7", 0), Tree_NodeKind::kNumber);
  ASSERT_NE(nullptr, made);
  EXPECT_EQ(made, other->ChildNodeAt(1));
  EXPECT_EQ(other.get(), made->GetParent());
  EXPECT_EQ("7", other->GetValue("made", other));
  EXPECT_EQ(Tree_NodeKind::kNumber, made->GetKind());
  EXPECT_TRUE(other->IsSubtreeComplete());
  EXPECT_EQ(2, Tree_NodeTestAccess::CompleteSons(*other));
  Tree_Node* padded = other->AddNewChild(RWCString(" padded "), nullptr, Tree_NodeKind::kObject);
  ASSERT_NE(nullptr, padded);
  EXPECT_EQ("padded", padded->KeyName());
  EXPECT_EQ(Tree_NodeKind::kObject, padded->GetKind());
  EXPECT_EQ(nullptr,
            made->AddNewChild(RWCString("x"), new Tree_Value("v", 0), Tree_NodeKind::kString));
  EXPECT_EQ(4, other->GetNodeNum());
}

TEST(Children, InsertMovesAChildBetweenParentsWithTheirCounters) {
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr from = AddBranch(root, "from");
  Tree_NodePtr to = AddBranch(root, "to");
  EXPECT_EQ(1, to->Insert(MakeBranch("existing"), 0));  // index 0 of a node without children
  AddBranch(from, "moving")->SetSingleNodeComplete(false);

  EXPECT_EQ(1, to->Insert(from->GetChildAt(0), 0));  // the very handle the move deletes
  EXPECT_EQ(0, from->GetChildCount());
  EXPECT_TRUE(from->IsSubtreeComplete());
  EXPECT_EQ(Names({"moving", "existing"}), ChildNames(to));
  EXPECT_EQ(RWCString("root\\to\\moving"), to->GetChildAt(0)->GetPath());
  EXPECT_FALSE(to->IsSubtreeComplete());
  EXPECT_EQ(1, Tree_NodeTestAccess::CompleteSons(*to));
  EXPECT_EQ(1, Tree_NodeTestAccess::CompleteSons(*root));
}

TEST(Children, IndexIsCheckedAfterTheChildLeavesAndBeforeAnythingChanges) {
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr a = AddBranch(root, "a");
  AddBranch(root, "b");
  AddBranch(root, "c");
  EXPECT_EQ(1, root->Add(a));  // a child of this node moves to the end
  EXPECT_EQ(1, root->Insert(a, 1));
  EXPECT_THROW(root->Insert(a, 3), RWBoundsErr);  // 2 places once a has left
  EXPECT_EQ(Names({"b", "a", "c"}), ChildNames(root));

  Tree_NodePtr old_parent = MakeBranch("old");
  Tree_NodePtr stranger = AddBranch(old_parent, "stranger");
  EXPECT_THROW(root->Insert(stranger, 4), RWBoundsErr);
  EXPECT_THROW(root->Insert(stranger, -1), RWBoundsErr);
  EXPECT_EQ(old_parent.get(), stranger->GetParent());
  EXPECT_EQ(3, Tree_NodeTestAccess::CompleteSons(*root));
}

TEST(Children, RemoveByIndexHandleAndName) {
  LogCapture capture;
  Tree_NodePtr root = MakeBranch("root");
  EXPECT_EQ(0, root->Remove(0));
  EXPECT_EQ(0, root->Remove(MakeBranch("stranger")));  // GetIndex, then Remove(int), report
  EXPECT_EQ(Names({"GetIndex(Tree_NodePtr & a_child) : children vec is null, return -1\n"}),
            capture.Texts(3));
  EXPECT_EQ(Names(2, "Remove(int child_index) : children vec is null, return FALSE\n"),
            capture.Texts(7));

  Tree_NodePtr grandchild = AddLeaf(AddBranch(root, "only_in_vector"), "leaf", "1");
  Tree_NodePtr kept = AddBranch(root, "A");
  AddBranch(AddBranch(root, "a"), "g");
  AddBranch(root, "a");
  EXPECT_EQ(1, root->Remove(0));
  EXPECT_EQ(nullptr, grandchild->GetParent());  // its parent died with the vector's handle
  EXPECT_EQ(1, root->Remove(kept));
  EXPECT_EQ(RWCString("A"), kept->GetPath());  // still held: a root now
  EXPECT_THROW(root->Remove(MakeBranch("stranger")), RWBoundsErr);
  EXPECT_EQ(0, root->Remove(RWCString("g")));  // never a grandchild
  EXPECT_EQ(1, root->Remove(RWCString("a")));
  EXPECT_EQ(1, root->Remove(0));
  EXPECT_THROW(root->Remove(0), RWBoundsErr);  // the vector exists but is empty

  // So does the vector of a node whose only child left.
  Tree_NodePtr single = MakeBranch("single");
  AddBranch(single, "only");
  capture.Clear();
  EXPECT_EQ(1, single->Remove(0));
  EXPECT_THROW(single->Remove(0), RWBoundsErr);
  EXPECT_EQ(-1, single->GetIndex(MakeBranch("stranger")));
  EXPECT_EQ(Names{}, capture.Texts(3));
}

TEST(Children, AccessAndAncestry) {
  LogCapture capture;
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr child = AddBranch(root, "child");
  Tree_NodePtr grandchild = AddBranch(child, "grandchild");
  capture.Clear();
  EXPECT_EQ(&Tree_Node::NULL_TREE_NODE_PTR, &root->GetChildAt(-1));
  EXPECT_EQ(&Tree_Node::NULL_TREE_NODE_PTR, &root->GetChildAt(1));
  EXPECT_EQ(-1, root->GetIndex(MakeBranch("child")));  // same name, another node
  EXPECT_EQ(1, child->IsNodeAncestor(child));
  EXPECT_EQ(1, grandchild->IsNodeAncestor(root));
  EXPECT_EQ(0, child->IsNodeAncestor(grandchild));
  EXPECT_EQ(1, root->IsNodeChild(child));
  EXPECT_EQ(0, root->IsNodeChild(grandchild));
  EXPECT_EQ(0, root->IsNodeChild(Tree_NodePtr()));
  EXPECT_EQ(Names({"GetChildAt : index is less then 0,return null Tree_NodePtr\n",
                   "GetChildAt : index >= GetChildCount(),return null Tree_NodePtr\n",
                   "IsNodeChild(  Tree_NodePtr & node): node is NULL, return FALSE\n"}),
            capture.Texts(3));
  EXPECT_TRUE(capture.Has("END IsNodeAncestor(Tree_NodePtr & another_node), return FALSE\n", 7));
}

TEST(Children, CountingAndVisitingArePreOrder) {
  Tree_NodePtr root = MakeBranch("root");
  AddBranch(AddBranch(root, "a"), "c");
  AddLeaf(root, "b", "1");
  EXPECT_EQ(4, root->GetNodeNum());
  Names visited;
  root->ExecuteOnEntireSubtree([&](Tree_Node* node) {
    visited.push_back(node->GetKeyName().str());
    if (node->GetKeyName() == "c") node->Add(MakeBranch("added"));  // counts are read afresh
  });
  EXPECT_EQ(Names({"root", "a", "c", "added", "b"}), visited);
}
