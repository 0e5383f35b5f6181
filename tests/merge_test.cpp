#include <gtest/gtest.h>

#include <random>

#include "tests/test_support.h"

namespace {

// The merge step by step as its contract states it, recursion and repeated copies included.
Tree_NodePtr ReferenceMerge(const Tree_NodePtr& first, const Tree_NodePtr& second, bool deep) {
  Tree_NodePtr result = second->DuplicateFromHereDown(true);
  for (int i = 0; i < first->GetChildCount(); ++i) {
    const Tree_NodePtr& a = first->GetChildAt(i);
    int match = 0;
    while (match < result->GetChildCount() &&
           result->GetChildAt(match)->GetKeyName() != a->GetKeyName())
      ++match;
    if (match == result->GetChildCount()) {
      result->Add(a->DuplicateFromHereDown(true));
    } else if (deep && a->IsLeaf() == 0) {
      const Tree_NodePtr b = result->GetChildAt(match);
      result->Remove(b);
      result->Add(ReferenceMerge(a, b, true));
    }
  }
  return result;
}

// A random tree over few names, one differing only in case, so that names repeat among
// siblings and leaves meet branches.
Tree_NodePtr RandomTree(std::mt19937& random, int depth) {
  const char name[] = {"abcA"[random() % 4], '\0'}, value[] = {"0123"[random() % 4], '\0'};
  if (depth == 0 || random() % 3 == 0) return MakeLeaf(name, value, random() % 2);
  Tree_NodePtr node = MakeBranch(name);
  for (int i = random() % 12; i > 0; --i) node->Add(RandomTree(random, depth - 1));
  return node;
}

// The dump of a merge's result and the level-3 messages it logged.
template <class MergeFunction>
std::pair<Lines, Lines> Trace(const MergeFunction& merge) {
  LogCapture log(3);
  return {Dump(merge()), log.Texts(3)};  // in this order: a braced list is evaluated in order
}

}  // namespace

TEST(Merge, SecondInputWinsOnConflictsANullInputGivesTheOtherItself) {
  const Tree_NodePtr a = MakeBranch("a"), b = MakeBranch("b"), null;
  AddLeaf(a, "x", "1");
  AddLeaf(a, "y", "2", 1);
  AddLeaf(b, "x", "9");
  for (const auto merge : {&Tree_Node::Merge, &Tree_Node::MergeOneLevel}) {
    EXPECT_EQ((Lines{"0 b", "1 x=9/0", "1 y=2/1"}), Dump(merge(a, b)));
    EXPECT_EQ(a.get(), merge(a, null).get());
    EXPECT_EQ(a.get(), merge(null, a).get());
    EXPECT_EQ(nullptr, merge(null, null).get());
  }
}

TEST(Merge, MergedBranchMovesToTheEndOneLevelKeepsItInPlace) {
  const Tree_NodePtr a = MakeBranch("a"), b = MakeBranch("b");
  AddLeaf(AddBranch(a, "s"), "p", "1");
  AddLeaf(AddBranch(b, "s"), "q", "2");
  AddLeaf(b, "t", "3");
  EXPECT_EQ((Lines{"0 b", "1 t=3/0", "1 s", "2 q=2/0", "2 p=1/0"}), Dump(Tree_Node::Merge(a, b)));
  EXPECT_EQ((Lines{"0 b", "1 s", "2 q=2/0", "1 t=3/0"}), Dump(Tree_Node::MergeOneLevel(a, b)));
}

TEST(Merge, LeafMatchedByABranchIsKeptAndRefusesTheBranchsChildren) {
  const Tree_NodePtr a = MakeBranch("a"), b = MakeBranch("b");
  AddLeaf(AddBranch(a, "s"), "p", "1");
  AddLeaf(b, "s", "5");
  AddLeaf(b, "t", "3");
  const auto [dump, messages] = Trace([&] { return Tree_Node::Merge(a, b); });
  EXPECT_EQ((Lines{"0 b", "1 t=3/0", "1 s=5/0"}), dump);
  EXPECT_EQ(1u, messages.size());  // the leaf's Insert refusing p
}

TEST(Merge, AgreesWithTheStepByStepMergeAndChangesNoInput) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 100; ++round) {
    const Tree_NodePtr first = RandomTree(random, 3), second = RandomTree(random, 3);
    const Lines first_before = Dump(first), second_before = Dump(second);
    for (const bool deep : {true, false}) {
      const auto merge = deep ? &Tree_Node::Merge : &Tree_Node::MergeOneLevel;
      ASSERT_EQ(Trace([&] { return ReferenceMerge(first, second, deep); }),
                Trace([&] { return merge(first, second); }))
          << "round " << round << ", every depth " << deep;
    }
    ASSERT_EQ(first_before, Dump(first));
    ASSERT_EQ(second_before, Dump(second));
  }
}
