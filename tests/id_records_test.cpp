#include <gtest/gtest.h>

#include "tests/test_support.h"

TEST(IdNodeVec, ListsTheSubtreeInPreOrderWithValuesOnLeaves) {
  const auto printed = [](const Tree_IdNodeInfo& record) {
    testing::internal::CaptureStdout();
    record.PrintMe();
    return testing::internal::GetCapturedStdout();
  };
  Tree_NodePtr top = MakeBranch("top");
  Tree_NodePtr a = AddLeaf(top, "A", "a", 1);
  a->SetChecksum(4294967295u, false, false);  // copied as it stands, never computed
  a->SetSingleNodeComplete(false);
  AddLeaf(AddBranch(top, "B"), "C", "c");
  AddLeaf(top, "D", "d");
  delete AddBranch(top, "E")->SetTreeValue(new Tree_Value("e", 0));  // no value: not a leaf
  delete top->SetTreeValue(new Tree_Value("top value", 1));  // the top never carries its value
  LogCapture log;
  IdVec* vec = Tree_Node::GetIdNodeVecFromTree(top);
  EXPECT_TRUE(log.Has("Start GetIdNodeVecFromTree(Tree_NodePtr & tree)\n", 7));
  EXPECT_EQ(
      "----------------------\nPath : A Value : a Changed : 1 Parent id : 0 Id : 1\n"
      " CRC : 4294967295\n Complete : 0\n",
      printed(*(*vec)[1]));
  EXPECT_EQ("----------------------\nPath :  Parent id : -1 Id : 0\n CRC : 0\n Complete : 1\n",
            printed(Tree_IdNodeInfo()));
  EXPECT_EQ("0:-1:top 1:0:A=a/1* 2:0:B 3:2:C=c/0 4:0:D=d/0 5:0:E", Dump(vec));
  EXPECT_EQ("0:-1:leaf", Dump(Tree_Node::GetIdNodeVecFromTree(MakeLeaf("leaf", "1", 1))));

  log.Clear();
  EXPECT_EQ("null", Dump(Tree_Node::GetIdNodeVecFromTree(Tree_NodePtr())));
  EXPECT_EQ(1u, log.Texts(3).size());
}
