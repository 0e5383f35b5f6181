#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/algebra_support.h"

namespace {

using Lines = std::vector<std::string>;

const char kLeafRefused[] =
    "Insert(Tree_NodePtr & new_child, int child_index) : this node does not allowed children, "
    "return FALSE ";

// The merge step by step as its contract states it, recursion and repeated copies included;
// for small trees only.
Tree_NodePtr ReferenceMerge(const Tree_NodePtr& first, const Tree_NodePtr& second,
                            bool every_depth) {
  if (second.get() == nullptr) return first;
  if (first.get() == nullptr) return second;
  Tree_NodePtr result = second->DuplicateFromHereDown(true);
  const int count = first->GetChildCount();
  for (int i = 0; i < count; ++i) {
    const Tree_NodePtr& a = first->GetChildAt(i);
    int match = -1;
    for (int j = 0; j < result->GetChildCount() && match < 0; ++j) {
      if (result->GetChildAt(j)->GetKeyName() == a->GetKeyName()) match = j;
    }
    if (match < 0) {
      result->Add(a->DuplicateFromHereDown(true));
    } else if (every_depth && a->IsLeaf() == 0) {
      const Tree_NodePtr b = result->GetChildAt(match);
      const Tree_NodePtr merged = ReferenceMerge(a, b, true);
      result->Remove(b);
      result->Add(merged);
    }
  }
  return result;
}

// A small random tree over few names, one differing only in case, so that names repeat
// among siblings and leaves meet branches.
Tree_NodePtr RandomTree(std::mt19937& random, int depth, bool leaf) {
  static const char* const kNames[] = {"a", "b", "c", "A"};
  const char* name = kNames[random() % 4];
  if (leaf) return MakeLeaf(name, std::to_string(random() % 10).c_str(), random() % 2);
  Tree_NodePtr node = MakeBranch(name);
  const int children = depth == 0 ? 0 : static_cast<int>(random() % 9);
  for (int i = 0; i < children; ++i) node->Add(RandomTree(random, depth - 1, random() % 5 < 2));
  return node;
}

// Runs `merge` and returns its result's dump and its level-3 messages.
template <class MergeFn>
std::pair<Lines, Lines> RunMerge(MergeFn merge) {
  LogCapture log(3);
  const Tree_NodePtr result = merge();
  return {Dump(result), log.Texts(3)};
}

}  // namespace

TEST(Merge, SecondInputWinsOnConflicts) {
  const Tree_NodePtr a = MakeBranch("a");
  AddLeaf(a, "x", "1");
  AddLeaf(a, "y", "2", 1);
  const Tree_NodePtr b = MakeBranch("b");
  AddLeaf(b, "x", "9");
  const Lines a_before = Dump(a);
  const Lines b_before = Dump(b);

  const Lines expected = {"0 b", "1 x=9/0", "1 y=2/1"};
  EXPECT_EQ(expected, Dump(Tree_Node::Merge(a, b)));
  EXPECT_EQ(expected, Dump(Tree_Node::MergeOneLevel(a, b)));
  EXPECT_EQ(a_before, Dump(a));
  EXPECT_EQ(b_before, Dump(b));
}

TEST(Merge, MergedBranchMovesToTheEndOneLevelKeepsItInPlace) {
  const Tree_NodePtr a = MakeBranch("a");
  AddLeaf(AddBranch(a, "s"), "p", "1");
  const Tree_NodePtr b = MakeBranch("b");
  AddLeaf(AddBranch(b, "s"), "q", "2");
  AddLeaf(b, "t", "3");
  const Lines a_before = Dump(a);
  const Lines b_before = Dump(b);

  EXPECT_EQ((Lines{"0 b", "1 t=3/0", "1 s", "2 q=2/0", "2 p=1/0"}), Dump(Tree_Node::Merge(a, b)));
  EXPECT_EQ((Lines{"0 b", "1 s", "2 q=2/0", "1 t=3/0"}), Dump(Tree_Node::MergeOneLevel(a, b)));
  EXPECT_EQ(a_before, Dump(a));
  EXPECT_EQ(b_before, Dump(b));
}

TEST(Merge, NamesMatchCaseSensitively) {
  const Tree_NodePtr a = MakeBranch("a");
  AddLeaf(a, "Port", "1");
  const Tree_NodePtr b = MakeBranch("b");
  AddLeaf(b, "port", "2");
  EXPECT_EQ((Lines{"0 b", "1 port=2/0", "1 Port=1/0"}), Dump(Tree_Node::Merge(a, b)));
}

TEST(Merge, NullInputReturnsTheOtherInputItself) {
  const Tree_NodePtr a = MakeBranch("a");
  const Tree_NodePtr null;
  for (const auto merge : {&Tree_Node::Merge, &Tree_Node::MergeOneLevel}) {
    EXPECT_EQ(a.get(), merge(a, null).get());
    EXPECT_EQ(a.get(), merge(null, a).get());
    EXPECT_EQ(nullptr, merge(null, null).get());
  }
  // Changing the result changes the input: it is the same node.
  Tree_NodePtr result = Tree_Node::Merge(a, null);
  AddLeaf(result, "x", "1");
  EXPECT_EQ(1, a->GetChildCount());
}

TEST(Merge, ResultIsAFreshCopyOfTheSecondInput) {
  const Tree_NodePtr a = MakeBranch("a");
  const Tree_NodePtr b = MakeBranch("b");
  b->SetVirtualParentPath("root\\b");
  int protect = 1;
  const Tree_NodePtr s = AddBranch(b, "s");
  const Tree_NodePtr q = AddLeaf(s, "q", "2", 1);
  q->SetSingleNodeComplete(false);
  Tree_Node::ChangeTreeNodePtrProtection(b, protect);

  const Tree_NodePtr result = Tree_Node::Merge(a, b);
  ASSERT_EQ(Dump(b), Dump(result));
  EXPECT_NE(b.get(), result.get());
  EXPECT_TRUE(result->GetVirtualParentPath().isNull());
  EXPECT_FALSE(result.IsProtected());
  EXPECT_TRUE(result->IsSubtreeComplete());
  EXPECT_FALSE(b->IsSubtreeComplete());
  EXPECT_NE(s.get(), result->GetChildAt(0).get());
}

TEST(Merge, LeafMatchedByABranchIsKeptAndRefusesTheBranchsChildren) {
  const Tree_NodePtr a = MakeBranch("a");
  const Tree_NodePtr s = AddBranch(a, "s");
  AddLeaf(s, "p", "1");
  AddLeaf(AddBranch(s, "deep"), "z", "0");
  const Tree_NodePtr b = MakeBranch("b");
  AddLeaf(b, "s", "5");
  AddLeaf(b, "t", "3");
  const Lines a_before = Dump(a);
  const Lines b_before = Dump(b);

  {
    LogCapture log(3);
    EXPECT_EQ((Lines{"0 b", "1 t=3/0", "1 s=5/0"}), Dump(Tree_Node::Merge(a, b)));
    const std::string refused = std::string(kLeafRefused) + "s\n";
    EXPECT_EQ((Lines{refused, refused}), log.Texts());
  }
  {
    LogCapture log(3);
    EXPECT_EQ(b_before, Dump(Tree_Node::MergeOneLevel(a, b)));
    EXPECT_TRUE(log.Texts().empty());
  }
  // A leaf as the second input refuses every child of the first.
  const Tree_NodePtr leaf = MakeLeaf("top", "7");
  for (const auto merge : {&Tree_Node::Merge, &Tree_Node::MergeOneLevel}) {
    LogCapture log(3);
    EXPECT_EQ((Lines{"0 top=7/0"}), Dump(merge(a, leaf)));
    EXPECT_EQ((Lines{std::string(kLeafRefused) + "top\n"}), log.Texts());
  }
  EXPECT_EQ(a_before, Dump(a));
  EXPECT_EQ(b_before, Dump(b));
}

TEST(Merge, RepeatedNamesMatchTheFirstChildOfThatNameAtThatMoment) {
  // The first input's second k meets what its first k left: the merged k, now at the end, or
  // the second input's next k.
  const Tree_NodePtr a = MakeBranch("a");
  AddLeaf(AddBranch(a, "k"), "p", "1");
  AddLeaf(AddBranch(a, "k"), "q", "2");
  const Tree_NodePtr b = MakeBranch("b");
  AddLeaf(b, "z", "0");
  EXPECT_EQ((Lines{"0 b", "1 z=0/0", "1 k", "2 p=1/0", "2 q=2/0"}), Dump(Tree_Node::Merge(a, b)));
  EXPECT_EQ((Lines{"0 b", "1 z=0/0", "1 k", "2 p=1/0"}), Dump(Tree_Node::MergeOneLevel(a, b)));

  AddLeaf(AddBranch(b, "k"), "r", "3");
  AddLeaf(b, "m", "4");
  AddLeaf(AddBranch(b, "k"), "s", "5");
  EXPECT_EQ((Lines{"0 b", "1 z=0/0", "1 m=4/0", "1 k", "2 r=3/0", "2 p=1/0", "1 k", "2 s=5/0",
                   "2 q=2/0"}),
            Dump(Tree_Node::Merge(a, b)));
}

TEST(Merge, AgreesWithTheStepByStepMergeOnRandomTrees) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 400; ++round) {
    const Tree_NodePtr first = RandomTree(random, 3, false);
    const Tree_NodePtr second = RandomTree(random, 3, round % 10 == 0);
    const Lines first_before = Dump(first);
    const Lines second_before = Dump(second);
    for (const bool every_depth : {true, false}) {
      const auto expected = RunMerge([&] { return ReferenceMerge(first, second, every_depth); });
      const auto actual = RunMerge([&] {
        return every_depth ? Tree_Node::Merge(first, second)
                           : Tree_Node::MergeOneLevel(first, second);
      });
      ASSERT_EQ(expected, actual) << "round " << round << ", every depth " << every_depth;
    }
    ASSERT_EQ(first_before, Dump(first));
    ASSERT_EQ(second_before, Dump(second));
  }
}

TEST(Merge, WideLevelsKeepOrderAndMatches) {
  // Many siblings, every other name shared, and a branch that moves.
  const Tree_NodePtr a = MakeBranch("a");
  const Tree_NodePtr b = MakeBranch("b");
  for (int i = 0; i < 300; ++i) {
    AddLeaf(a, ("n" + std::to_string(2 * i)).c_str(), "first");
    AddLeaf(b, ("n" + std::to_string(3 * i)).c_str(), "second");
  }
  AddLeaf(AddBranch(a, "n3"), "inner", "1");
  const auto expected = RunMerge([&] { return ReferenceMerge(a, b, true); });
  const auto actual = RunMerge([&] { return Tree_Node::Merge(a, b); });
  EXPECT_EQ(expected, actual);
  // The 300 of the second, and the 200 names of the first that the second lacks; the first's
  // n3 met the second's leaf n3, which moved to the end.
  EXPECT_EQ(1 + 500, actual.first.size());
  EXPECT_EQ("1 n3=second/0", actual.first.back());
}

TEST(Merge, DeepChainsMergeLevelByLevel) {
  constexpr int kLevels = 100000;
  const Tree_NodePtr first = MakeChain(kLevels, "c", MakeLeaf("x", "1"));
  const Tree_NodePtr second = MakeChain(kLevels, "c", MakeLeaf("y", "2"));

  const Tree_NodePtr merged = Tree_Node::Merge(first, second);
  const auto [depth, lowest] = LowestBranch(merged);
  EXPECT_EQ(kLevels - 1, depth);
  ASSERT_EQ(2, lowest->GetChildCount());
  EXPECT_EQ("y", lowest->GetChildAt(0)->GetKeyName());
  EXPECT_EQ("x", lowest->GetChildAt(1)->GetKeyName());
  EXPECT_EQ(kLevels + 2, merged->GetNodeNum());

  const Tree_NodePtr one_level = Tree_Node::MergeOneLevel(first, second);
  EXPECT_EQ(kLevels + 1, one_level->GetNodeNum());
  // Nothing in the second input matches: the whole first chain is copied in.
  const Tree_NodePtr other = MakeBranch("other");
  EXPECT_EQ(kLevels + 1, Tree_Node::Merge(first, other)->GetNodeNum());
  EXPECT_EQ(kLevels + 1, first->GetNodeNum());
}
