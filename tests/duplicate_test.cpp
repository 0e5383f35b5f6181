#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"

TEST(Duplicate, CopiesContentWithFreshBookkeeping) {
  // r: [x=1 (flag 1), s (a value set on it): [p=<long>, t: [q=3 (flag 7, incomplete)]], e].
  const Tree_NodePtr r = MakeBranch("r");
  AddLeaf(r, "x", "1", 1);
  const Tree_NodePtr s = AddBranch(r, "s");
  const std::string long_text(40, 'w');  // past a string's own buffer
  AddLeaf(s, "p", long_text);
  const Tree_NodePtr q = AddLeaf(AddBranch(s, "t"), "q", "3", 7);
  AddBranch(r, "e");
  delete s->SetTreeValue(new Tree_Value("v", 1));
  q->SetSingleNodeComplete(false);
  NotifyCounter callback;
  q->GetParent()->AddSubtreeCompleteNotifier(&callback);
  r->SetVirtualParentPath("host\\r");
  int protect = 1;
  Tree_Node::ChangeTreeNodePtrProtection(r, protect);
  r->ExecuteOnEntireSubtree([](Tree_Node* node) { node->SetId(5); });
  r->GetChecksum();
  const Lines before = Dump(r);

  const Tree_NodePtr copy = r->DuplicateFromHereDown(true);
  EXPECT_EQ((Lines{"0 r", "1 x=1/1", "1 s", "2 p=" + long_text + "/0", "2 t", "3 q=3/7", "1 e"}),
            Dump(copy));
  EXPECT_TRUE(copy->GetVirtualParentPath().isNull());
  EXPECT_FALSE(copy.IsProtected());
  copy->ExecuteOnEntireSubtree([](Tree_Node* node) {
    EXPECT_EQ(0, node->GetId());
    EXPECT_TRUE(node->IsSubtreeComplete());
    EXPECT_EQ(node->GetChildCount(), Tree_NodeTestAccess::CompleteSons(*node));
    EXPECT_FALSE(Tree_NodeTestAccess::ChecksumValid(*node));
  });
  // The copy's notifier lists are empty: completing the copy's q tells nobody.
  const Tree_NodePtr q_copy = copy->GetChildAt(1)->GetChildAt(1)->GetChildAt(0);
  q_copy->SetSingleNodeComplete(false);
  q_copy->SetSingleNodeComplete(true);
  EXPECT_EQ(0, callback.notified);
  // The values are the copy's own.
  q_copy->GetTreeValue()->SetValue("changed");
  EXPECT_EQ(before, Dump(r));
}

TEST(TreeAlgebra, DeepChainsWithoutRecursion) {
  constexpr int kLevels = 100000;
  const Tree_NodePtr first = MakeChain(kLevels, MakeLeaf("x", "1", 1));
  const Tree_NodePtr second = MakeChain(kLevels, MakeLeaf("y", "2"));
  Lines first_dump = Dump(first);
  EXPECT_EQ(first_dump, Dump(first->DuplicateFromHereDown(true)));

  Lines merged = Dump(second);
  EXPECT_EQ(merged, Dump(Tree_Node::MergeOneLevel(first, second)));
  merged.push_back(std::to_string(kLevels) + " x=1/1");
  EXPECT_EQ(merged, Dump(Tree_Node::Merge(first, second)));

  AddLeaf(first, "unchanged", "0");
  EXPECT_EQ(first_dump, Dump(Tree_Node::GetChangesTreeNode(first)));

  first->Add(MakeChain(kLevels, Tree_NodePtr()));
  EXPECT_TRUE(first->RemoveEmptyBranches());
  first_dump.push_back("1 unchanged=0/0");
  EXPECT_EQ(first_dump, Dump(first));
}

TEST(TreeAlgebra, KindsTravelWithEveryCopyAndNeverReachTheChecksum) {
  // r(object): [port=8080(number, changed), ver=1.0(string), list(array): [0=x(string)]].
  const Tree_NodePtr r = MakeBranch("r");
  r->SetKind(Tree_NodeKind::kObject);
  const Tree_NodePtr port = AddLeaf(r, "port", "8080", 1);
  port->SetKind(Tree_NodeKind::kNumber);
  AddLeaf(r, "ver", "1.0")->SetKind(Tree_NodeKind::kString);
  const Tree_NodePtr list = AddBranch(r, "list");
  list->SetKind(Tree_NodeKind::kArray);
  AddLeaf(list, "0", "x", 1)->SetKind(Tree_NodeKind::kString);
  const auto kinds = [](const Tree_NodePtr& top) {
    std::vector<Tree_NodeKind> found;
    top->ExecuteOnEntireSubtree([&](Tree_Node* node) { found.push_back(node->GetKind()); });
    return found;
  };
  const std::vector<Tree_NodeKind> all = kinds(r);

  EXPECT_EQ(all, kinds(r->DuplicateFromHereDown(true)));
  EXPECT_EQ(all, kinds(Tree_Node::Merge(r, r)));
  EXPECT_EQ(all, kinds(Tree_Node::MergeOneLevel(r, r)));
  // The change tree holds port and list\0 with the kinds of their sources and parents.
  EXPECT_EQ((std::vector<Tree_NodeKind>{Tree_NodeKind::kObject, Tree_NodeKind::kNumber,
                                        Tree_NodeKind::kArray, Tree_NodeKind::kString}),
            kinds(Tree_Node::GetChangesTreeNode(r)));
  // A new value keeps the node's kind; the kind takes no part in the checksum.
  port->GetTreeValue()->SetValue("9999");
  EXPECT_EQ(Tree_NodeKind::kNumber, port->GetKind());
  const Tree_NodePtr untyped = r->DuplicateFromHereDown(true);
  untyped->ExecuteOnEntireSubtree([](Tree_Node* node) { node->SetKind(Tree_NodeKind::kUntyped); });
  EXPECT_EQ(r->GetChecksum(), untyped->GetChecksum());
}

// A copy of a node wider than its children vector's first block and than the name index's
// threshold: lookups, later changes and completion counting behave as in the source.
TEST(Duplicate, AWideCopyFindsFirstNamesAndCountsCompletionAsInserts) {
  const Tree_NodePtr r = MakeBranch("r");
  for (int i = 0; i < 20; ++i) {
    const std::string name = "n" + std::to_string(i % 7);
    if (i % 3 == 0) {
      AddLeaf(r, name, "v" + std::to_string(i));
    } else {
      AddLeaf(AddBranch(r, name), "deep", std::to_string(i));
    }
  }
  const Tree_NodePtr copy = r->DuplicateFromHereDown(true);
  ASSERT_EQ(20, copy->GetChildCount());
  EXPECT_EQ(Dump(r), Dump(copy));
  for (int i = 0; i < 7; ++i) {
    const RWCString name("n" + std::to_string(i));
    const Tree_NodePtr found = copy->Get(name, copy);
    EXPECT_EQ(r->GetIndex(r->Get(name, r)), copy->GetIndex(found)) << name.data();
    EXPECT_EQ(copy.get(), found->GetParent());
  }
  EXPECT_EQ(RWCString("2"), copy->GetValue(RWCString("n2\\deep"), copy));

  // An incomplete leaf deep in the copy makes its ancestors incomplete, and back.
  const Tree_NodePtr deep = copy->GetRelativeNode(RWCString("n1\\deep"), copy);
  deep->SetSingleNodeComplete(false);
  EXPECT_FALSE(copy->IsSubtreeComplete());
  EXPECT_EQ(19, Tree_NodeTestAccess::CompleteSons(*copy));
  deep->SetSingleNodeComplete(true);
  EXPECT_TRUE(copy->IsSubtreeComplete());
  EXPECT_EQ(20, Tree_NodeTestAccess::CompleteSons(*copy));

  // The copy grows past the room it was given and shrinks like any node.
  const Tree_NodePtr added = AddBranch(copy, "n0");
  EXPECT_EQ(21, copy->GetChildCount());
  EXPECT_EQ(copy->GetChildAt(0), copy->Get(RWCString("n0"), copy));
  EXPECT_EQ(1, copy->Remove(0));
  EXPECT_EQ(copy->GetChildAt(6), copy->Get(RWCString("n0"), copy));
  EXPECT_EQ(1, copy->Remove(RWCString("n0")));
  EXPECT_EQ(copy->GetChildAt(12), copy->Get(RWCString("n0"), copy));
  EXPECT_EQ(added, copy->GetChildAt(18));
  EXPECT_EQ(19, Tree_NodeTestAccess::CompleteSons(*copy));
}
