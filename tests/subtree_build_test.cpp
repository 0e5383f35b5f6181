#include <gtest/gtest.h>

#include <initializer_list>
#include <tuple>

#include "tests/test_support.h"

namespace {

using NodeInfoVec = Qor_PtrSortedVector<Tree_NodeInfo>;

// path, parent path, value.
using Record = std::tuple<const char*, const char*, const char*>;

NodeInfoVec* Vec(std::initializer_list<Record> records) {
  auto vec = new NodeInfoVec;
  for (const auto& [path, parent_path, value] : records) {
    auto record = new Tree_NodeInfo;
    record->SetPath(RWCString(path));
    record->SetParentPath(RWCString(parent_path));
    record->SetValue(RWCString(value));
    vec->insert(record);
  }
  return vec;
}

// The subtree in pre-order, as its id records.
std::string Shape(const Tree_NodePtr& node) {
  return Dump(Tree_Node::GetIdNodeVecFromTree(node));
}

}  // namespace

TEST(BuildSubTree, PlacesRecordsBySameParentLastPathOrLookup) {
  LogCapture log;
  // The second x takes x\c (the branch built last) and x\c0 (the same parent); x\c\d is looked
  // up from the top, which finds the first x and creates c under it.
  Tree_NodePtr built = Tree_Node::BuildSubTree(Vec({{"x", "", ""},
                                                    {"x", "", ""},
                                                    {"x\\c", "x", ""},
                                                    {"x\\c0", "x", "1"},
                                                    {"x\\c\\d", "x\\c", "2"},
                                                    {"y", "", "3"}}),
                                               "a\\top");
  EXPECT_EQ("0:-1:top 1:0:x 2:1:c 3:2:d=2/0 4:0:x 5:4:c 6:4:c0=1/0 7:0:y=3/0", Shape(built));
  EXPECT_EQ("a\\top", built->GetPath().str());
  EXPECT_EQ((std::vector<std::string>{"BuildSubTree :: Start build <a\\top>\n",
                                      "BuildSubTree :: End build <a\\top>\n"}),
            log.Texts(6));
  EXPECT_EQ(nullptr, Tree_Node::BuildSubTree(nullptr, "a").get());
}

TEST(BuildSubTree, RebuildsAConvertedSubtree) {
  Tree_NodePtr r = MakeBranch("R");
  Tree_NodePtr a = AddBranch(r, "a");
  delete a->SetTreeValue(new Tree_Value("ignored", 0));  // only leaves give values
  AddLeaf(AddBranch(a, "b"), "deep", "d");
  AddBranch(a, "b0");
  AddLeaf(a, "k", "v", 1);
  AddLeaf(r, "z", "9");

  // Each child converted under an empty parent path rebuilds R's children under the top.
  auto vec = new NodeInfoVec;
  for (int i = 0; i < r->GetChildCount(); ++i)
    Tree_Node::ConvertTreeNodeToVec(r->GetChildAt(i), "", vec);
  EXPECT_EQ(Shape(r), Shape(Tree_Node::BuildSubTree(vec, "host\\R")));

  LogCapture log;
  NodeInfoVec empty;
  Tree_Node::ConvertTreeNodeToVec(Tree_NodePtr(), "", &empty);
  Tree_Node::ConvertTreeNodeToVec(r, "", nullptr);
  EXPECT_EQ(0u, empty.entries());
  EXPECT_EQ(2u, log.Texts(3).size());
}

TEST(BuildSubTree, SkipsARecordOutsideItsParentPathAndFailsOnOneWithoutRoot) {
  LogCapture log;
  EXPECT_EQ("0:-1:t 1:0:x 2:1:b=2/0",
            Shape(Tree_Node::BuildSubTree(
                Vec({{"x", "", ""}, {"xa", "x", "1"}, {"x\\b", "x", "2"}, {"x", "x", "3"}}), "t")));
  EXPECT_TRUE(
      log.Has("BuildSubTree : the path <xa> does not begin with its parent path <x> "
              "and a separator, the element is skipped\n",
              3));

  // x is a leaf, so no branch was built when x\a asks for the branch built last; the records
  // after it are freed too.
  log.Clear();
  Tree_NodePtr built = Tree_Node::BuildSubTree(
      Vec({{"x", "", "1"}, {"x\\a", "x", ""}, {"x\\a\\b", "x\\a", ""}, {"y", "", ""}}), "top");
  EXPECT_EQ(nullptr, built.get());
  EXPECT_EQ((std::vector<std::string>{"there is an element without a root in the vec: ",
                                      "path_elem_parent_path\n"}),
            log.Texts(3));
  EXPECT_EQ((std::vector<std::string>{"BuildSubTree :: Start build <top>\n"}), log.Texts(6));

  // The lookup through the leaf a yields a detached b, so c and d go nowhere, and the build
  // goes on with z.
  log.Clear();
  auto vec = Vec({{"a", "", "1"}, {"a\\b\\c", "a\\b", ""}, {"a\\b\\d", "a\\b", "2"}});
  auto z = new Tree_NodeInfo;
  z->SetPath(RWCString("z"));
  z->SetValue(RWCString("3"));
  z->SetIsChange(1);
  vec->insert(z);
  EXPECT_EQ("0:-1:top 1:0:a=1/0 2:0:z=3/1", Shape(Tree_Node::BuildSubTree(vec, "top")));
  EXPECT_TRUE(log.Has("BuildSubTree :: End build <top>\n", 6));
}

TEST(BuildSubTree, DeepChainNeedsNoRecursion) {
  constexpr int kDepth = 5000;
  auto vec = new NodeInfoVec;
  Tree_Node::ConvertTreeNodeToVec(MakeChain(kDepth), "", vec);
  EXPECT_EQ(Shape(MakeChain(kDepth + 1)), Shape(Tree_Node::BuildSubTree(vec, "n")));
}
