#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/algebra_support.h"

namespace {

using Lines = std::vector<std::string>;

// Counts Notify calls; MightNeedMove is ignored.
class NotifyCounter : public Tree_NotifyList::Callback {
 public:
  void Notify() override { ++notified; }
  void MightNeedMove(const Tree_NodePtr& /*node*/) override {}
  int notified = 0;
};

// r: x=1 (changed), s: [p=2, t: [q=3 (flag 7)]], e (empty branch).
Tree_NodePtr SampleTree() {
  const Tree_NodePtr r = MakeBranch("r");
  AddLeaf(r, "x", "1", 1);
  const Tree_NodePtr s = AddBranch(r, "s");
  AddLeaf(s, "p", "2");
  AddLeaf(AddBranch(s, "t"), "q", "3", 7);
  AddBranch(r, "e");
  return r;
}

}  // namespace

TEST(Duplicate, CopiesNamesValuesFlagsAndOrder) {
  const Tree_NodePtr source = SampleTree();
  const Lines expected = {"0 r", "1 x=1/1", "1 s", "2 p=2/0", "2 t", "3 q=3/7", "1 e"};
  ASSERT_EQ(expected, Dump(source));

  const Tree_NodePtr copy = source->DuplicateFromHereDown(true);
  EXPECT_EQ(expected, Dump(copy));
  EXPECT_EQ(expected, Dump(source->DuplicateFromHereDown(false)));
  EXPECT_NE(source.get(), copy.get());
  EXPECT_NE(source->GetChildAt(1).get(), copy->GetChildAt(1).get());
  EXPECT_NE(source->GetChildAt(0)->GetTreeValue(), copy->GetChildAt(0)->GetTreeValue());
  EXPECT_EQ(copy.get(), copy->GetChildAt(1)->GetParent());

  // A node inside a tree is copied without its parent; a single leaf keeps its value.
  const Tree_NodePtr t = source->GetChildAt(1)->GetChildAt(1);
  const Tree_NodePtr t_copy = t->DuplicateFromHereDown(true);
  EXPECT_EQ(nullptr, t_copy->GetParent());
  EXPECT_EQ((Lines{"0 t", "1 q=3/7"}), Dump(t_copy));
  EXPECT_EQ((Lines{"0 q=3/7"}), Dump(t->GetChildAt(0)->DuplicateFromHereDown(true)));
}

TEST(Duplicate, CopyStartsWithFreshBookkeeping) {
  const Tree_NodePtr source = SampleTree();
  source->SetVirtualParentPath("host\\r");
  // Protected families, ids, marks, an incomplete leaf and a pending callback on its branch.
  const Tree_NodePtr made = source->GetOrCreateRelativeNode("s\\made", source);
  ASSERT_TRUE(made.IsProtected());
  source->ExecuteOnEntireSubtree([](Tree_Node* node) {
    node->SetId(5);
    node->SetMark(true);
  });
  Tree_Node* const t = source->GetChildAt(1)->GetChildAt(1).get();
  NotifyCounter callback;
  t->AddSubtreeCompleteNotifier(&callback);
  t->GetChildAt(0)->SetSingleNodeComplete(false);
  ASSERT_FALSE(source->IsSubtreeComplete());
  // A value set on a branch is left behind.
  delete source->GetChildAt(1)->SetTreeValue(new Tree_Value("on a branch", 1));

  const Tree_NodePtr copy = source->DuplicateFromHereDown(true);
  EXPECT_TRUE(copy->GetVirtualParentPath().isNull());
  EXPECT_EQ("r\\s\\t", copy->GetChildAt(1)->GetChildAt(1)->GetPath());
  EXPECT_EQ(nullptr, copy->GetChildAt(1)->GetTreeValue());
  EXPECT_EQ(1, copy->GetChildAt(1)->IsAllowsChildren());
  copy->ExecuteOnEntireSubtree([](Tree_Node* node) {
    EXPECT_EQ(0, node->GetId());
    EXPECT_FALSE(node->GetMark());
    EXPECT_TRUE(node->IsSingleNodeComplete());
    EXPECT_TRUE(node->IsSubtreeComplete());
    EXPECT_EQ(node->GetChildCount(), Tree_NodeTestAccess::CompleteSons(*node));
    EXPECT_FALSE(Tree_NodeTestAccess::ChecksumValid(*node));
  });
  EXPECT_FALSE(copy.IsProtected());
  EXPECT_FALSE(copy->GetChildAt(1)->GetChildAt(2).IsProtected());

  // The copy's notifier lists are empty: completing the copy's t tells nobody, completing
  // the source's t tells the source's callback once.
  Tree_Node* const t_copy = copy->GetChildAt(1)->GetChildAt(1).get();
  t_copy->GetChildAt(0)->SetSingleNodeComplete(false);
  t_copy->GetChildAt(0)->SetSingleNodeComplete(true);
  EXPECT_EQ(0, callback.notified);
  t->GetChildAt(0)->SetSingleNodeComplete(true);
  EXPECT_EQ(1, callback.notified);
}

TEST(Duplicate, CopyAndSourceAreIndependent) {
  Tree_NodePtr source = SampleTree();
  const Lines before = Dump(source);
  const Tree_NodePtr copy = source->DuplicateFromHereDown(true);
  EXPECT_EQ(before, Dump(source));

  copy->GetChildAt(0)->GetTreeValue()->SetValue("changed");
  copy->GetChildAt(0)->GetTreeValue()->SetIsChange(0);
  copy->GetChildAt(1)->Remove(0);
  AddLeaf(copy, "new", "4");
  EXPECT_EQ(before, Dump(source));

  Tree_NodePtr second_copy = source->DuplicateFromHereDown(true);
  source = Tree_NodePtr();
  EXPECT_EQ(before, Dump(second_copy));
  EXPECT_EQ((Lines{"0 r", "1 x=changed/0", "1 s", "2 t", "3 q=3/7", "1 e", "1 new=4/0"}),
            Dump(copy));
}

TEST(Duplicate, DeepChainIsCopiedWithoutRecursion) {
  constexpr int kLevels = 100000;
  const Tree_NodePtr chain = MakeChain(kLevels, "c", MakeLeaf("x", "1", 1));
  const Tree_NodePtr copy = chain->DuplicateFromHereDown(true);
  EXPECT_EQ(kLevels + 1, copy->GetNodeNum());
  const auto [depth, lowest] = LowestBranch(copy);
  EXPECT_EQ(kLevels - 1, depth);
  EXPECT_EQ("1", lowest->GetChildAt(0)->GetTreeValue()->GetValue());
  EXPECT_TRUE(copy->IsSubtreeComplete());
  EXPECT_EQ(kLevels + 1, chain->GetNodeNum());
}
