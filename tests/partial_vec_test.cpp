#include <gtest/gtest.h>

#include <tuple>

#include "tests/test_support.h"

TEST(PartialIdVec, DepthFanOutAndStopPathCutTheExampleTree) {
  // T holds the branches A and B and the leaf v=1; A holds the leaves a1 and a2; B holds the
  // branch C, which holds the leaf c1.
  Tree_NodePtr t = MakeBranch("T");
  Tree_NodePtr a = AddBranch(t, "A");
  AddLeaf(a, "a1", "x1");
  AddLeaf(a, "a2", "x2");
  AddLeaf(AddBranch(AddBranch(t, "B"), "C"), "c1", "y1");
  AddLeaf(t, "v", "1");
  const std::string whole =
      "0:-1:T 1:0:A 2:1:a1=x1/0 3:1:a2=x2/0 4:0:B 5:4:C 6:5:c1=y1/0 7:0:v=1/0";
  const std::string stop_a = "Expansion stop for path T\\A\n";
  // depth_left, max_sons, stop_path, the records listed, the expansion stops logged.
  const std::tuple<int, int, const char*, std::string, std::string> cases[] = {
      {0, 99, "", "0:-1:T*", ""},
      {1, 10, "", "0:-1:T 1:0:A* 2:0:B* 3:0:v=1/0", ""},
      {5, 1, "", "0:-1:T 1:0:A* 2:0:B 3:2:C 4:3:c1=y1/0 5:0:v=1/0", stop_a},
      {1, 1, "", "0:-1:T 1:0:A* 2:0:B* 3:0:v=1/0", stop_a},  // fan-out is tested before depth
      {5, -1, "", "0:-1:T 1:0:A* 2:0:B* 3:0:v=1/0", stop_a + "Expansion stop for path T\\B\n"},
      {5, 10, "T\\B", "0:-1:T 1:0:A 2:1:a1=x1/0 3:1:a2=x2/0 4:0:B* 5:0:v=1/0", ""},
      {5, 10, "T\\B\\C", "0:-1:T 1:0:A 2:1:a1=x1/0 3:1:a2=x2/0 4:0:B 5:4:C* 6:0:v=1/0", ""},
      {5, 10, "T", "0:-1:T*", ""},
      {5, 10, "X\\B", whole, ""},
      {5, 10, "t\\B", whole, ""},  // names compare case-sensitively
      {-1, 10, "", "", ""},
  };
  for (const auto& [depth_left, max_sons, stop_path, records, stops] : cases) {
    SCOPED_TRACE(testing::Message() << depth_left << " " << max_sons << " " << stop_path);
    LogCapture log;
    EXPECT_EQ(records,
              Dump(Tree_Node::GetPartialIdNodeVecFromTree(t, depth_left, max_sons, stop_path)));
    std::string logged;
    for (const std::string& text : log.Texts(7)) logged += text;
    EXPECT_EQ("Start GetPartialIdNodeVecFromTree\n" + stops, logged);
  }

  LogCapture log;
  EXPECT_EQ("null", Dump(Tree_Node::GetPartialIdNodeVecFromTree(Tree_NodePtr(), 5, 5, "")));
  EXPECT_EQ(1u, log.Texts(3).size());
}

TEST(PartialIdVec, DeepChainNeedsNoRecursion) {
  constexpr int kDepth = 100000;
  Tree_NodePtr chain = MakeChain(kDepth);
  EXPECT_EQ(Dump(Tree_Node::GetIdNodeVecFromTree(chain)),
            Dump(Tree_Node::GetPartialIdNodeVecFromTree(chain, kDepth, 1, "")));
}
