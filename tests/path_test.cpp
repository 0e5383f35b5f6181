#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/test_support.h"

namespace {

// Every GetRoot result with the IsOnlyRoot that follows it, until the flag is set.
std::vector<std::pair<std::string, int>> Walk(const char* text) {
  Tree_Path path{RWCString(text)};
  std::vector<std::pair<std::string, int>> steps;
  do {
    std::string element = path.GetRoot().str();
    steps.emplace_back(std::move(element), path.IsOnlyRoot());
  } while (path.IsOnlyRoot() == 0);
  return steps;
}

using Steps = std::vector<std::pair<std::string, int>>;

}  // namespace

TEST(TreePath, HandsOutOneElementPerCall) {
  EXPECT_EQ(Steps({{"a", 0}, {"b", 0}, {"c", 1}}), Walk("a\\b\\c"));
  EXPECT_EQ(Steps({{"a", 1}}), Walk("a"));
  EXPECT_EQ(Steps({{"", 1}}), Walk(""));
}

TEST(TreePath, EmptyElementsComeOutAsEmptyStrings) {
  EXPECT_EQ(Steps({{"a", 0}, {"", 1}}), Walk("a\\"));
  EXPECT_EQ(Steps({{"", 0}, {"a", 1}}), Walk("\\a"));
  EXPECT_EQ(Steps({{"a", 0}, {"", 0}, {"b", 1}}), Walk("a\\\\b"));
}

TEST(TreePath, RepeatsTheLastElementOnceDone) {
  Tree_Path path(RWCString("a\\b"));
  path.GetRoot();
  EXPECT_EQ(RWCString("b"), path.GetRoot());
  EXPECT_EQ(RWCString("b"), path.GetRoot());
  Tree_Path whole(RWCString("a"));
  whole.GetRoot();
  EXPECT_EQ(RWCString("a"), whole.GetRoot());
  EXPECT_EQ(1, whole.IsOnlyRoot());
}

TEST(TreePath, CopyContinuesWhereTheOriginalStood) {
  Tree_Path path(RWCString("a\\b\\c"));
  path.GetRoot();
  Tree_Path copy = path;
  EXPECT_EQ(RWCString("b"), copy.GetRoot());
  EXPECT_EQ(RWCString("b"), path.GetRoot());
}

TEST(TreePath, SetPathKeepsTheCursor) {
  Tree_Path fresh;
  fresh.SetPath(RWCString("x\\y"));
  EXPECT_EQ(RWCString("x"), fresh.GetRoot());

  Tree_Path walked(RWCString("ab\\cd"));
  walked.GetRoot();                        // cursor at 3
  walked.SetPath(RWCString("12\\45\\7"));  // goes on from offset 3 of the new text
  EXPECT_EQ(RWCString("45"), walked.GetRoot());
  walked.SetPath(RWCString("1"));  // shorter than the cursor: the rest is empty
  EXPECT_EQ(RWCString(""), walked.GetRoot());
  EXPECT_EQ(1, walked.IsOnlyRoot());
}

TEST(NodePath, JoinsKeyNamesFromTheRoot) {
  Tree_NodePtr root = MakeBranch("r");
  Tree_NodePtr net = AddBranch(root, "net");
  Tree_NodePtr port = AddLeaf(net, "port", "80");
  EXPECT_EQ(RWCString("r"), root->GetPath());
  EXPECT_EQ(RWCString("r\\net\\port"), port->GetPath());
  EXPECT_EQ(RWCString("\\"), Tree_Node::separator);
}

TEST(NodePath, VirtualParentPathReplacesTheRootsName) {
  Tree_NodePtr root = MakeBranch("r");
  Tree_NodePtr child = AddBranch(root, "c");
  root->SetVirtualParentPath(RWCString("cfg\\site"));
  EXPECT_EQ(RWCString("cfg\\site"), root->GetPath());
  EXPECT_EQ(RWCString("cfg\\site\\c"), child->GetPath());

  // A removed child reports its own name, or its own virtual path, again.
  child->SetVirtualParentPath(RWCString("elsewhere"));
  EXPECT_EQ(RWCString("cfg\\site\\c"), child->GetPath());  // ignored while it has a parent
  root->Remove(child);
  EXPECT_EQ(RWCString("elsewhere"), child->GetPath());
  Tree_NodePtr plain = AddBranch(root, "p");
  root->Remove(plain);
  EXPECT_EQ(RWCString("p"), plain->GetPath());
}

TEST(NodePath, KeyNamesAreNotEscaped) {
  Tree_NodePtr root = MakeBranch("r");
  Tree_NodePtr odd = AddBranch(root, "a\\b");
  EXPECT_EQ(RWCString("r\\a\\b"), odd->GetPath());
}
