#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tests/serialize_test_support.h"

namespace {

// id, parent id, path, value, single-node-complete of every record.
using Row = std::tuple<int, int, std::string, std::string, bool>;

std::vector<Row> Rows(const IdVec& vec) {
  std::vector<Row> rows;
  for (const Tree_IdNodeInfo* record : vec) {
    rows.emplace_back(record->GetId(), record->GetParentId(), record->GetPath().str(),
                      record->GetValue().str(), record->GetIsSingleNodeComplete());
  }
  return rows;
}

// T holds containers A and B and the value leaf v=1; A holds leaves a1 and a2; B holds the
// container C, which holds the leaf c1.
Tree_NodePtr MakeT() {
  Tree_NodePtr t = MakeBranch("T");
  Tree_NodePtr a = AddBranch(t, "A");
  AddLeaf(a, "a1", "x1");
  AddLeaf(a, "a2", "x2");
  Tree_NodePtr b = AddBranch(t, "B");
  Tree_NodePtr c = AddBranch(b, "C");
  AddLeaf(c, "c1", "y1");
  AddLeaf(t, "v", "1");
  return t;
}

std::vector<Row> Partial(const Tree_NodePtr& tree, int depth_left, int max_sons,
                         const char* stop_path) {
  const OwnedIdVec vec(
      Tree_Node::GetPartialIdNodeVecFromTree(tree, depth_left, max_sons, stop_path));
  return Rows(*vec);
}

std::vector<Row> Partial(int depth_left, int max_sons, const char* stop_path) {
  return Partial(MakeT(), depth_left, max_sons, stop_path);
}

const std::vector<Row> kWholeT{{0, -1, "T", "", true},   {1, 0, "A", "", true},
                               {2, 1, "a1", "x1", true}, {3, 1, "a2", "x2", true},
                               {4, 0, "B", "", true},    {5, 4, "C", "", true},
                               {6, 5, "c1", "y1", true}, {7, 0, "v", "1", true}};

}  // namespace

TEST(PartialIdVec, DepthLimitsTheLevelsListed) {
  EXPECT_EQ((std::vector<Row>{{0, -1, "T", "", false}}), Partial(0, 99, ""));
  EXPECT_EQ((std::vector<Row>{{0, -1, "T", "", true},
                              {1, 0, "A", "", false},
                              {2, 0, "B", "", false},
                              {3, 0, "v", "1", true}}),
            Partial(1, 10, ""));
  EXPECT_EQ(kWholeT, Partial(5, 10, ""));
  EXPECT_TRUE(Partial(-1, 10, "").empty());
}

TEST(PartialIdVec, FanOutLimitSparesTheTop) {
  const Tree_NodePtr t = MakeT();
  LogCapture log;
  EXPECT_EQ((std::vector<Row>{{0, -1, "T", "", true},
                              {1, 0, "A", "", false},
                              {2, 0, "B", "", true},
                              {3, 2, "C", "", true},
                              {4, 3, "c1", "y1", true},
                              {5, 0, "v", "1", true}}),
            Partial(t, 5, 1, ""));
  EXPECT_EQ((std::vector<std::string>{"Start GetPartialIdNodeVecFromTree\n",
                                      "Expansion stop for path T\\A\n"}),
            log.Texts(7));

  // At the last level the fan-out test comes first: A logs, B is cut off silently.
  log.Clear();
  EXPECT_EQ((std::vector<Row>{{0, -1, "T", "", true},
                              {1, 0, "A", "", false},
                              {2, 0, "B", "", false},
                              {3, 0, "v", "1", true}}),
            Partial(t, 1, 1, ""));
  EXPECT_EQ(1, log.Count("Expansion stop for path T\\A\n", 7));
  EXPECT_EQ(0, log.Count("Expansion stop for path T\\B\n", 7));
}

TEST(PartialIdVec, NegativeFanOutCutsOffEveryBranchBelowTheTop) {
  Tree_NodePtr t = MakeT();
  AddBranch(t, "E");  // childless, still cut off
  LogCapture log;
  const OwnedIdVec vec(Tree_Node::GetPartialIdNodeVecFromTree(t, 5, -1, ""));
  EXPECT_EQ((std::vector<Row>{{0, -1, "T", "", true},
                              {1, 0, "A", "", false},
                              {2, 0, "B", "", false},
                              {3, 0, "v", "1", true},
                              {4, 0, "E", "", false}}),
            Rows(*vec));
  EXPECT_EQ((std::vector<std::string>{
                "Start GetPartialIdNodeVecFromTree\n", "Expansion stop for path T\\A\n",
                "Expansion stop for path T\\B\n", "Expansion stop for path T\\E\n"}),
            log.Texts(7));
}

TEST(PartialIdVec, StopPathCutsOffOneNode) {
  EXPECT_EQ((std::vector<Row>{{0, -1, "T", "", true},
                              {1, 0, "A", "", true},
                              {2, 1, "a1", "x1", true},
                              {3, 1, "a2", "x2", true},
                              {4, 0, "B", "", false},
                              {5, 0, "v", "1", true}}),
            Partial(5, 10, "T\\B"));
  EXPECT_EQ((std::vector<Row>{{0, -1, "T", "", false}}), Partial(5, 10, "T"));
  EXPECT_EQ(kWholeT, Partial(5, 10, "X\\B"));
  EXPECT_EQ(kWholeT, Partial(5, 10, "T\\X"));
  EXPECT_EQ(kWholeT, Partial(5, 10, "t\\B")) << "names compare case-sensitively";

  const std::vector<Row> without_c1{kWholeT.begin(), kWholeT.begin() + 6};
  std::vector<Row> expected = without_c1;
  std::get<4>(expected[5]) = false;
  expected.push_back({6, 0, "v", "1", true});
  EXPECT_EQ(expected, Partial(5, 10, "T\\B\\C"));
}

TEST(PartialIdVec, ExpandedNodesKeepTheirOwnFlag) {
  Tree_NodePtr t = MakeT();
  t->GetChildAt(1)->SetSingleNodeComplete(false);  // B
  const OwnedIdVec vec(Tree_Node::GetPartialIdNodeVecFromTree(t, 5, 10, ""));
  EXPECT_FALSE((*vec)[4]->GetIsSingleNodeComplete());
  EXPECT_TRUE((*vec)[5]->GetIsSingleNodeComplete());
}

TEST(PartialIdVec, NullHandleGivesNull) {
  LogCapture log;
  EXPECT_EQ(nullptr, Tree_Node::GetPartialIdNodeVecFromTree(Tree_NodePtr(), 5, 5, ""));
  EXPECT_EQ((std::vector<std::string>{
                "GetPartialIdNodeVecFromTree(Tree_NodePtr & tree, int depth_left, int max_sons, "
                "RWCString & stop_path) : tree is NULL, return NULL\n"}),
            log.Texts(3));
}

TEST(PartialIdVec, DeepChainNeedsNoRecursion) {
  constexpr int kDepth = 100000;
  Tree_NodePtr chain = MakeChain(kDepth);
  const OwnedIdVec whole(Tree_Node::GetPartialIdNodeVecFromTree(chain, kDepth, 1, ""));
  ASSERT_EQ(static_cast<std::size_t>(kDepth), whole->entries());
  EXPECT_EQ(kDepth - 2, (*whole)[kDepth - 1]->GetParentId());
  EXPECT_TRUE((*whole)[kDepth - 1]->GetIsSingleNodeComplete());

  const OwnedIdVec cut(Tree_Node::GetPartialIdNodeVecFromTree(chain, kDepth / 2, 1, ""));
  ASSERT_EQ(static_cast<std::size_t>(kDepth / 2 + 1), cut->entries());
  EXPECT_FALSE((*cut)[kDepth / 2]->GetIsSingleNodeComplete());
}
