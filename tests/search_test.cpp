#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/test_support.h"

namespace {

// The texts of a search result, which is released; none for a null result.
std::vector<std::string> Hits(String_Arr* result) {
  std::unique_ptr<String_Arr> owned(result);
  std::vector<std::string> hits;
  for (int i = 0; owned != nullptr && i < owned->GetArrLen(); ++i) hits.push_back(owned->GetStr(i));
  return hits;
}

}  // namespace

TEST(Search, HitsComeInPreOrderWithFullPathsAndNoHitGivesNull) {
  // r with children a and b; a has a child x; b has a child x that has a child x.
  Tree_NodePtr r = MakeBranch("r");
  AddBranch(AddBranch(r, "a"), "x");
  Tree_NodePtr b = AddBranch(r, "b");
  AddBranch(AddBranch(b, "x"), "x");
  EXPECT_EQ((std::vector<std::string>{"r\\a\\x", "r\\b\\x", "r\\b\\x\\x"}),
            Hits(r->Search("x", r, 0)));
  EXPECT_EQ(std::vector<std::string>{"r\\b\\x\\x"}, Hits(r->Search("x\\x", r, 0)));
  // Called below the root, the paths still start at the root of the whole tree.
  EXPECT_EQ((std::vector<std::string>{"r\\b\\x", "r\\b\\x\\x"}), Hits(b->Search("x", b, 0)));
  // A leading backslash hits every starting node, depth first; the cut leaves a path without
  // separator whole, and removes only the first element of a virtual parent path.
  EXPECT_EQ((std::vector<std::string>{"r", "a", "a\\x", "b", "b\\x", "b\\x\\x"}),
            Hits(r->Search("\\", r, 1)));
  r->SetVirtualParentPath("top\\mid");
  EXPECT_EQ(std::vector<std::string>{"mid\\b\\x\\x"}, Hits(r->Search("x\\x", r, 1)));
  EXPECT_EQ(6, r->GetNodeNum());

  // An empty path (level 3) and a search without hit (level 7) give null.
  LogCapture log;
  EXPECT_EQ(nullptr, r->Search("", r, 0));
  EXPECT_EQ(nullptr, r->Search("X", r, 0));
  EXPECT_EQ(std::vector<std::string>{"Search(RWCString & path,Tree_NodePtr & this_ptr): path is "
                                     "NULL, return NULL\n"},
            log.Texts(3));
}
