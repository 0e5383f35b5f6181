#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

// Each GetRoot result followed by the IsOnlyRoot after it ("a0" "b1"), until the flag is set.
std::vector<std::string> Walk(const char* text) {
  Tree_Path path{RWCString(text)};
  std::vector<std::string> steps;
  do {
    const std::string element = path.GetRoot().str();
    steps.push_back(element + std::to_string(path.IsOnlyRoot()));
  } while (path.IsOnlyRoot() == 0);
  steps.push_back(path.GetRoot().str());  // repeated once done
  return steps;
}

using Steps = std::vector<std::string>;

}  // namespace

TEST(TreePath, HandsOutOneElementPerCallEmptyOnesIncluded) {
  EXPECT_EQ(Steps({"a0", "b0", "c1", "c"}), Walk("a\\b\\c"));
  EXPECT_EQ(Steps({"a1", "a"}), Walk("a"));
  EXPECT_EQ(Steps({"1", ""}), Walk(""));
  EXPECT_EQ(Steps({"a0", "1", ""}), Walk("a\\"));
  EXPECT_EQ(Steps({"0", "a1", "a"}), Walk("\\a"));
  EXPECT_EQ(Steps({"a0", "0", "b1", "b"}), Walk("a\\\\b"));

  Tree_Path walked(RWCString("ab\\cd"));
  walked.GetRoot();
  Tree_Path copy = walked;                 // a copy continues from the cursor
  walked.SetPath(RWCString("12\\45\\7"));  // so does a new text: from offset 3
  EXPECT_EQ(RWCString("cd"), copy.GetRoot());
  EXPECT_EQ(RWCString("45"), walked.GetRoot());
  walked.SetPath(RWCString("1"));  // shorter than the cursor: the rest is empty
  EXPECT_EQ(RWCString(""), walked.GetRoot());
}

TEST(NodePath, JoinsKeyNamesFromTheRootOrItsVirtualParentPath) {
  Tree_NodePtr root = MakeBranch("r");
  Tree_NodePtr child = AddBranch(root, "a\\b");  // names are not escaped
  Tree_NodePtr leaf = AddLeaf(child, "port", "80");
  EXPECT_EQ(RWCString("r\\a\\b\\port"), leaf->GetPath());
  root->SetVirtualParentPath(RWCString("cfg\\site"));
  EXPECT_EQ(RWCString("cfg\\site\\a\\b\\port"), leaf->GetPath());
  child->SetVirtualParentPath(RWCString("elsewhere"));  // counts only once it is a root
  EXPECT_EQ(RWCString("cfg\\site\\a\\b"), child->GetPath());
  root->Remove(child);
  EXPECT_EQ(RWCString("elsewhere\\port"), leaf->GetPath());
}
