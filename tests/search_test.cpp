#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/test_support.h"

namespace {

// r with children a and b; a has a child x; b has a child x that has a child x.
struct SearchTree {
  Tree_NodePtr r = MakeBranch("r");
  Tree_NodePtr a = AddBranch(r, "a");
  Tree_NodePtr b = AddBranch(r, "b");
  Tree_NodePtr ax = AddBranch(a, "x");
  Tree_NodePtr bx = AddBranch(b, "x");
  Tree_NodePtr bxx = AddBranch(bx, "x");
};

// The texts of a search result, or none for a null result, which is released.
std::vector<std::string> Hits(String_Arr* result) {
  std::unique_ptr<String_Arr> owned(result);
  std::vector<std::string> hits;
  if (owned == nullptr) return hits;
  EXPECT_EQ(owned->GetArrLen(), owned->GetInsertedNum());
  for (int i = 0; i < owned->GetArrLen(); ++i) hits.push_back(owned->GetStr(i));
  return hits;
}

const std::string kStart = "Start Search(RWCString & path,Tree_NodePtr & this_ptr)\n";

}  // namespace

TEST(Search, HitsComeInPreOrderWithFullPaths) {
  SearchTree tree;
  LogCapture log;
  EXPECT_EQ((std::vector<std::string>{"r\\a\\x", "r\\b\\x", "r\\b\\x\\x"}),
            Hits(tree.r->Search(RWCString("x"), tree.r, 0)));
  EXPECT_EQ(
      (std::vector<std::string>{kStart, "End Search(RWCString & path,Tree_NodePtr & this_ptr)\n"}),
      log.Texts());
  EXPECT_EQ((std::vector<std::string>{"a\\x", "b\\x", "b\\x\\x"}),
            Hits(tree.r->Search(RWCString("x"), tree.r, 1)));
  // Two elements: each hit is the path of the last one.
  EXPECT_EQ(std::vector<std::string>{"r\\b\\x\\x"},
            Hits(tree.r->Search(RWCString("x\\x"), tree.r, 0)));
  EXPECT_EQ(std::vector<std::string>{"r\\b\\x"},
            Hits(tree.r->Search(RWCString("b\\x"), tree.r, 0)));
  // Called below the root, the paths still start at the root of the whole tree.
  EXPECT_EQ((std::vector<std::string>{"r\\b\\x", "r\\b\\x\\x"}),
            Hits(tree.b->Search(RWCString("x"), tree.b, 0)));
  EXPECT_EQ(6, tree.r->GetNodeNum());
}

TEST(Search, ALeadingBackslashHitsEveryNode) {
  SearchTree tree;
  EXPECT_EQ((std::vector<std::string>{"r", "r\\a", "r\\a\\x", "r\\b", "r\\b\\x", "r\\b\\x\\x"}),
            Hits(tree.r->Search(RWCString("\\x"), tree.r, 0)));
  // Cutting the root leaves a path without separator whole.
  EXPECT_EQ((std::vector<std::string>{"r", "a", "a\\x", "b", "b\\x", "b\\x\\x"}),
            Hits(tree.r->Search(RWCString("\\"), tree.r, 1)));
}

TEST(Search, CutRootRemovesTheFirstElementOfAVirtualPath) {
  SearchTree tree;
  tree.r->SetVirtualParentPath(RWCString("top\\mid"));
  EXPECT_EQ((std::vector<std::string>{"top\\mid\\a\\x", "top\\mid\\b\\x", "top\\mid\\b\\x\\x"}),
            Hits(tree.r->Search(RWCString("x"), tree.r, 0)));
  EXPECT_EQ((std::vector<std::string>{"mid\\a\\x", "mid\\b\\x", "mid\\b\\x\\x"}),
            Hits(tree.r->Search(RWCString("x"), tree.r, 1)));
}

TEST(Search, AnEmptyPathOrNoHitGivesNull) {
  SearchTree tree;
  LogCapture log;
  EXPECT_EQ(nullptr, tree.r->Search(RWCString(), tree.r, 0));
  EXPECT_EQ(
      (std::vector<std::string>{
          kStart, "Search(RWCString & path,Tree_NodePtr & this_ptr): path is NULL, return NULL\n"}),
      log.Texts());
  log.Clear();
  EXPECT_EQ(nullptr, tree.r->Search(RWCString("X"), tree.r, 0));
  EXPECT_EQ(nullptr, tree.r->Search(RWCString("r"), tree.r, 1));
  const std::string no_hit =
      "Search(RWCString & path,Tree_NodePtr & this_ptr): Search(path,this_ptr,ret) return empty "
      "vec (empty search result), return NULL\n";
  EXPECT_EQ((std::vector<std::string>{kStart, no_hit, kStart, no_hit}), log.Texts());
}

TEST(Search, LongNamesAndPathsAreCutToASlot) {
  const std::string long_name(300, 'k');
  Tree_NodePtr r = MakeBranch("r");
  Tree_NodePtr holder = AddBranch(r, "holder");
  AddLeaf(holder, long_name, std::string(2000, 'v'));
  EXPECT_EQ(std::vector<std::string>{("r\\holder\\" + long_name).substr(0, 255)},
            Hits(r->Search(RWCString(long_name), r, 0)));
  EXPECT_EQ(std::vector<std::string>{("holder\\" + long_name).substr(0, 255)},
            Hits(r->Search(RWCString(long_name), r, 1)));
}
