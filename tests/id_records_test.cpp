#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tests/serialize_test_support.h"

namespace {

// id, parent id, path, value, is-change of every record.
using Row = std::tuple<int, int, std::string, std::string, int>;

std::vector<Row> Rows(const IdVec& vec) {
  std::vector<Row> rows;
  for (const Tree_IdNodeInfo* record : vec) {
    rows.emplace_back(record->GetId(), record->GetParentId(), record->GetPath().str(),
                      record->GetValue().str(), record->IsChange());
  }
  return rows;
}

std::string Printed(const Tree_IdNodeInfo& record) {
  testing::internal::CaptureStdout();
  record.PrintMe();
  return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(IdNodeInfo, DefaultsAndCopies) {
  Tree_IdNodeInfo record;
  EXPECT_TRUE(record.GetValue().isNull());
  EXPECT_TRUE(record.GetPath().isNull());
  EXPECT_EQ(-1, record.GetParentId());
  EXPECT_EQ(0, record.GetId());
  EXPECT_EQ(0u, record.GetCRC());
  EXPECT_TRUE(record.GetIsSingleNodeComplete());
  EXPECT_EQ(0, record.IsChange());

  record.SetValue(RWCString("v"));
  record.SetPath(RWCString("p"));
  record.SetParentId(3);
  record.SetId(4);
  record.SetCRC(0xFFFFFFFFu);
  record.SetNodeComplete(false);
  record.SetIsChange(2);
  const Tree_IdNodeInfo copy(record);
  Tree_IdNodeInfo assigned;
  assigned = record;
  for (const Tree_IdNodeInfo* other : {&copy, static_cast<const Tree_IdNodeInfo*>(&assigned)}) {
    EXPECT_EQ("v", other->GetValue().str());
    EXPECT_EQ("p", other->GetPath().str());
    EXPECT_EQ(3, other->GetParentId());
    EXPECT_EQ(4, other->GetId());
    EXPECT_EQ(0xFFFFFFFFu, other->GetCRC());
    EXPECT_FALSE(other->GetIsSingleNodeComplete());
    EXPECT_EQ(2, other->IsChange());
  }
}

TEST(IdNodeInfo, BufferSettersTakeExactlyTheGivenBytes) {
  Tree_IdNodeInfo record;
  record.SetPath("abcdef", 3);
  EXPECT_EQ("abc", record.GetPath().str());
  record.SetPath("abcdef", 0);
  EXPECT_TRUE(record.GetPath().isNull());
  record.SetValue("a\0b", 3);
  EXPECT_EQ(std::string("a\0b", 3), record.GetValue().str());
  record.SetValue(nullptr, 5);
  EXPECT_TRUE(record.GetValue().isNull());
}

TEST(IdNodeInfo, StripRemovesBlanksOnly) {
  Tree_IdNodeInfo record;
  record.SetPath(RWCString(" a b "));
  record.SetValue(RWCString("\t x \t"));
  record.StripPath();
  record.StripValue();
  EXPECT_EQ("a b", record.GetPath().str());
  EXPECT_EQ("\t x \t", record.GetValue().str());
  record.SetValue(RWCString("  x  "));
  record.StripValue();
  EXPECT_EQ("x", record.GetValue().str());
}

TEST(IdNodeInfo, ComparesByPathAlone) {
  const auto with_path = [](const char* path, int id) {
    Tree_IdNodeInfo record;
    record.SetPath(RWCString(path));
    record.SetId(id);
    record.SetValue(RWCString(std::to_string(id)));
    return record;
  };
  EXPECT_TRUE(with_path("x", 1) == with_path("x", 2));
  EXPECT_FALSE(with_path("x", 1) == with_path("xy", 1));
  EXPECT_TRUE(with_path("a", 0) < with_path("ab", 0));
  EXPECT_TRUE(with_path("ab", 0) < with_path("b", 0));
  EXPECT_TRUE(with_path("B", 0) < with_path("a", 0));
  EXPECT_FALSE(with_path("a", 0) < with_path("a", 1));
  EXPECT_FALSE(with_path("b", 0) < with_path("a", 0));
}

TEST(IdNodeInfo, PrintMeWritesFourLines) {
  EXPECT_EQ("----------------------\nPath :  Parent id : -1 Id : 0\n CRC : 0\n Complete : 1\n",
            Printed(Tree_IdNodeInfo()));

  Tree_IdNodeInfo record;
  record.SetPath(RWCString("port"));
  record.SetValue(RWCString("80"));
  record.SetIsChange(1);
  record.SetParentId(0);
  record.SetId(1);
  record.SetCRC(4294967295u);
  record.SetNodeComplete(false);
  EXPECT_EQ(
      "----------------------\nPath : port Value : 80 Changed : 1 Parent id : 0 Id : 1\n"
      " CRC : 4294967295\n Complete : 0\n",
      Printed(record));
}

TEST(IdNodeVec, ListsTheSubtreeInPreOrderWithValuesOnLeaves) {
  Tree_NodePtr top = MakeBranch("top");
  AddLeaf(top, "A", "a", 1);
  Tree_NodePtr b = AddBranch(top, "B");
  AddLeaf(b, "C", "c");
  AddLeaf(top, "D", "d");
  delete top->SetTreeValue(new Tree_Value("top value", 1));  // the top never carries its value

  LogCapture log;
  const OwnedIdVec vec(Tree_Node::GetIdNodeVecFromTree(top));
  ASSERT_NE(nullptr, vec);
  EXPECT_EQ((std::vector<Row>{{0, -1, "top", "", 0},
                              {1, 0, "A", "a", 1},
                              {2, 0, "B", "", 0},
                              {3, 2, "C", "c", 0},
                              {4, 0, "D", "d", 0}}),
            Rows(*vec));
  EXPECT_EQ(1, log.Count("Start GetIdNodeVecFromTree(Tree_NodePtr & tree)\n", 7));
  EXPECT_EQ(1u, log.Texts().size());
}

TEST(IdNodeVec, TopAloneGivesOneRecordWithoutValue) {
  Tree_NodePtr leaf = MakeLeaf("leaf", "1", 1);
  const OwnedIdVec from_leaf(Tree_Node::GetIdNodeVecFromTree(leaf));
  EXPECT_EQ((std::vector<Row>{{0, -1, "leaf", "", 0}}), Rows(*from_leaf));

  Tree_NodePtr branch = MakeBranch("b");
  const OwnedIdVec from_branch(Tree_Node::GetIdNodeVecFromTree(branch));
  EXPECT_EQ((std::vector<Row>{{0, -1, "b", "", 0}}), Rows(*from_branch));
}

TEST(IdNodeVec, CopiesStoredChecksumAndCompletionWithoutComputing) {
  Tree_NodePtr top = MakeBranch("top");
  Tree_NodePtr child = AddBranch(top, "c");
  Tree_NodePtr leaf = AddLeaf(top, "l", "1");
  child->SetSingleNodeComplete(false);
  leaf->SetChecksum(77, false, false);

  const OwnedIdVec vec(Tree_Node::GetIdNodeVecFromTree(top));
  ASSERT_EQ(3u, vec->entries());
  EXPECT_EQ(0u, (*vec)[0]->GetCRC());
  EXPECT_TRUE((*vec)[0]->GetIsSingleNodeComplete());
  EXPECT_FALSE((*vec)[1]->GetIsSingleNodeComplete());
  EXPECT_EQ(77u, (*vec)[2]->GetCRC());
  EXPECT_FALSE(Tree_NodeTestAccess::ChecksumValid(*top));

  const unsigned long checksum = top->GetChecksum();
  const OwnedIdVec after(Tree_Node::GetIdNodeVecFromTree(top));
  EXPECT_EQ(checksum, (*after)[0]->GetCRC());
}

TEST(IdNodeVec, NullHandleGivesNull) {
  LogCapture log;
  EXPECT_EQ(nullptr, Tree_Node::GetIdNodeVecFromTree(Tree_NodePtr()));
  EXPECT_EQ((std::vector<std::string>{
                "GetIdNodeVecFromTree(Tree_NodePtr & tree) : tree is NULL, return NULL\n"}),
            log.Texts(3));
}

TEST(IdNodeVec, DeepChainNeedsNoRecursion) {
  constexpr int kDepth = 100000;
  Tree_NodePtr chain = MakeChain(kDepth);
  const OwnedIdVec vec(Tree_Node::GetIdNodeVecFromTree(chain));
  ASSERT_EQ(static_cast<std::size_t>(kDepth), vec->entries());
  for (int i = 0; i < kDepth; ++i) {
    const Tree_IdNodeInfo& record = *(*vec)[static_cast<std::size_t>(i)];
    ASSERT_EQ(i, record.GetId());
    ASSERT_EQ(i - 1, record.GetParentId());
  }
}
