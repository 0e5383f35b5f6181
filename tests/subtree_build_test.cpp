#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tests/serialize_test_support.h"

namespace {

// path, parent path, value, is-change.
using Record = std::tuple<std::string, std::string, std::string, int>;

NodeInfoVec* Vec(const std::vector<Record>& records) {
  auto vec = new NodeInfoVec;
  for (const auto& [path, parent_path, value, is_change] : records) {
    auto record = new Tree_NodeInfo;
    record->SetPath(RWCString(path));
    record->SetParentPath(RWCString(parent_path));
    record->SetValue(RWCString(value));
    record->SetIsChange(is_change);
    vec->insert(record);
  }
  return vec;
}

std::vector<Record> Records(const NodeInfoVec& vec) {
  std::vector<Record> records;
  for (const Tree_NodeInfo* record : vec) {
    records.emplace_back(record->GetPath().str(), record->GetParentPath().str(),
                         record->GetValue().str(), record->IsChange());
  }
  return records;
}

// The subtree as text, in pre-order: "name" for a branch, "name=value/flag" for a leaf, each
// child list in brackets.
std::string Shape(const Tree_NodePtr& node) {
  std::string text;
  struct Frame {
    Tree_NodePtr node;
    int next;
  };
  std::vector<Frame> frames;
  const auto open = [&](const Tree_NodePtr& at) {
    text += at->GetKeyName().str();
    if (at->IsLeaf() != 0) {
      text += "=" + at->GetTreeValue()->GetValue().str() + "/" +
              std::to_string(at->GetTreeValue()->IsChange());
      return;
    }
    if (at->GetChildCount() == 0) return;
    text += "[";
    frames.push_back(Frame{at, 0});
  };
  open(node);
  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.next == frame.node->GetChildCount()) {
      text += "]";
      frames.pop_back();
      continue;
    }
    if (frame.next != 0) text += " ";
    const Tree_NodePtr child = frame.node->GetChildAt(frame.next++);
    open(child);
  }
  return text;
}

const std::string kNoRoot[] = {"there is an element without a root in the vec: ",
                               "path_elem_parent_path\n"};

}  // namespace

TEST(ConvertTreeNodeToVec, RecordsEveryNodeByPathInPathOrder) {
  Tree_NodePtr r = MakeBranch("R");
  Tree_NodePtr c = AddBranch(r, "c");
  AddLeaf(c, "v", "1", 1);
  AddLeaf(r, "b", "2");
  AddLeaf(r, "c0", "3");
  delete r->SetTreeValue(new Tree_Value("branch value", 1));  // only leaves give values

  NodeInfoVec vec;
  Tree_Node::ConvertTreeNodeToVec(r, "", &vec);
  EXPECT_EQ((std::vector<Record>{{"R", "", "", 0},
                                 {"R\\b", "R", "2", 0},
                                 {"R\\c", "R", "", 0},
                                 {"R\\c0", "R", "3", 0},  // '0' orders before the separator
                                 {"R\\c\\v", "R\\c", "1", 1}}),
            Records(vec));
  vec.clearAndDestroy();

  Tree_Node::ConvertTreeNodeToVec(c, "up\\R", &vec);
  EXPECT_EQ(
      (std::vector<Record>{{"up\\R\\c", "up\\R", "", 0}, {"up\\R\\c\\v", "up\\R\\c", "1", 1}}),
      Records(vec));
  vec.clearAndDestroy();
}

TEST(ConvertTreeNodeToVec, EqualPathsKeepTheirOrder) {
  Tree_NodePtr r = MakeBranch("R");
  AddLeaf(r, "d", "first");
  AddLeaf(r, "d", "second");
  NodeInfoVec vec;
  Tree_Node::ConvertTreeNodeToVec(r, "", &vec);
  ASSERT_EQ(3u, vec.entries());
  EXPECT_EQ("first", vec[1]->GetValue().str());
  EXPECT_EQ("second", vec[2]->GetValue().str());
  vec.clearAndDestroy();
}

TEST(ConvertTreeNodeToVec, NullArgumentsAddNothing) {
  LogCapture log;
  NodeInfoVec vec;
  Tree_Node::ConvertTreeNodeToVec(Tree_NodePtr(), "", &vec);
  EXPECT_EQ(0u, vec.entries());
  Tree_Node::ConvertTreeNodeToVec(MakeBranch("R"), "", nullptr);
  EXPECT_EQ((std::vector<std::string>{
                "ConvertTreeNodeToVec(Tree_NodePtr & node, RWCString & parent_path, "
                "Qor_PtrSortedVector<Tree_NodeInfo> * vec) : node is NULL\n",
                "ConvertTreeNodeToVec(Tree_NodePtr & node, RWCString & parent_path, "
                "Qor_PtrSortedVector<Tree_NodeInfo> * vec) : vec is NULL\n"}),
            log.Texts(3));
}

TEST(BuildSubTree, NamesTheTopAfterTheLastElementOfThePath) {
  LogCapture log;
  Tree_NodePtr built = Tree_Node::BuildSubTree(new NodeInfoVec, "a\\b");
  ASSERT_NE(nullptr, built.get());
  EXPECT_EQ("b", built->GetKeyName().str());
  EXPECT_EQ("a\\b", built->GetPath().str());
  EXPECT_EQ(0, built->GetChildCount());
  EXPECT_EQ((std::vector<std::string>{"BuildSubTree :: Start build <a\\b>\n",
                                      "BuildSubTree :: End build <a\\b>\n"}),
            log.Texts(6));

  Tree_NodePtr top = Tree_Node::BuildSubTree(new NodeInfoVec, "top");
  EXPECT_EQ("top", top->GetKeyName().str());
  EXPECT_EQ("top", top->GetPath().str());
}

TEST(BuildSubTree, NullVectorGivesNullSilently) {
  LogCapture log;
  EXPECT_EQ(nullptr, Tree_Node::BuildSubTree(nullptr, "a").get());
  EXPECT_TRUE(log.Texts().empty());
}

TEST(BuildSubTree, PlacesRecordsByTheirParentPaths) {
  Tree_NodePtr built = Tree_Node::BuildSubTree(
      Vec({{"x", "", "", 0}, {"x\\v", "x", "1", 1}, {"y", "", "2", 0}}), "top");
  EXPECT_EQ("top[x[v=1/1] y=2/0]", Shape(built));

  // x\c\d is looked up from the top and lands under the existing c, after x\c0.
  built = Tree_Node::BuildSubTree(Vec({{"x\\c\\d", "x\\c", "", 0},
                                       {"x\\c0", "x", "", 0},
                                       {"x\\c", "x", "", 0},
                                       {"x", "", "", 0}}),
                                  "top");
  EXPECT_EQ("top[x[c[d] c0]]", Shape(built));

  // A parent that no record names is created on the way.
  built = Tree_Node::BuildSubTree(Vec({{"p\\q", "p", "5", 0}}), "top");
  EXPECT_EQ("top[p[q=5/0]]", Shape(built));

  // Equal paths give equal siblings; an empty value gives a branch.
  built =
      Tree_Node::BuildSubTree(Vec({{"d", "", "1", 0}, {"d", "", "2", 0}, {"e", "", "", 1}}), "top");
  EXPECT_EQ("top[d=1/0 d=2/0 e]", Shape(built));
}

TEST(BuildSubTree, WalkingStateFindsParentsWithoutLookups) {
  // Two branches named x: a lookup of x would find the first, the walking state uses the
  // branch built last, for the child right after it and for the siblings that follow.
  Tree_NodePtr built = Tree_Node::BuildSubTree(
      Vec({{"x", "", "", 0}, {"x", "", "", 0}, {"x\\a", "x", "1", 0}, {"x\\b", "x", "2", 0}}), "t");
  EXPECT_EQ("t[x x[a=1/0 b=2/0]]", Shape(built));

  // After a lookup, siblings keep the parent found.
  built = Tree_Node::BuildSubTree(Vec({{"x", "", "", 0},
                                       {"x", "", "", 0},
                                       {"x\\y", "x", "", 0},
                                       {"x\\z\\a", "x\\z", "", 0},
                                       {"x\\z\\b", "x\\z", "", 0}}),
                                  "t");
  EXPECT_EQ("t[x[z[a b]] x[y]]", Shape(built));
}

TEST(BuildSubTree, RebuildsAConvertedSubtree) {
  Tree_NodePtr r = MakeBranch("R");
  Tree_NodePtr a = AddBranch(r, "a");
  Tree_NodePtr b = AddBranch(a, "b");
  AddLeaf(b, "deep", "d");
  AddBranch(a, "b0");
  AddLeaf(a, "k", "v", 1);
  AddLeaf(r, "z", "9");

  // Each child converted under an empty parent path rebuilds R's children under the top.
  // Records come back in path order (a\b0 before a\b\deep), so siblings sorted by name, as
  // here, keep their order.
  auto vec = new NodeInfoVec;
  for (int i = 0; i < r->GetChildCount(); ++i)
    Tree_Node::ConvertTreeNodeToVec(r->GetChildAt(i), "", vec);
  Tree_NodePtr rebuilt = Tree_Node::BuildSubTree(vec, "host\\R");
  EXPECT_EQ(Shape(r), Shape(rebuilt));
  EXPECT_EQ("host\\R\\a\\b\\deep",
            rebuilt->GetRelativeNode("a\\b\\deep", rebuilt)->GetPath().str());

  // R itself converted gives a top R holding R.
  vec = new NodeInfoVec;
  Tree_Node::ConvertTreeNodeToVec(r, "", vec);
  EXPECT_EQ("R[" + Shape(r) + "]", Shape(Tree_Node::BuildSubTree(vec, "R")));
}

TEST(BuildSubTree, FailsWhenARecordHasNoRoot) {
  LogCapture log;
  // x is a leaf, so no branch was built when x\a asks for the branch built last; the records
  // after it are freed too.
  Tree_NodePtr built = Tree_Node::BuildSubTree(
      Vec({{"x", "", "1", 0}, {"x\\a", "x", "", 0}, {"x\\a\\b", "x\\a", "", 0}, {"y", "", "", 0}}),
      "top");
  EXPECT_EQ(nullptr, built.get());
  EXPECT_EQ((std::vector<std::string>(std::begin(kNoRoot), std::end(kNoRoot))), log.Texts(3));
  EXPECT_EQ((std::vector<std::string>{"BuildSubTree :: Start build <top>\n"}), log.Texts(6));

  // A lookup through a leaf finds no parent either.
  log.Clear();
  built = Tree_Node::BuildSubTree(
      Vec({{"x", "", "1", 0}, {"y", "", "", 0}, {"x\\a\\b", "x\\a", "", 0}}), "top");
  EXPECT_EQ(nullptr, built.get());
  EXPECT_EQ(1, log.Count(kNoRoot[0], 3));
  EXPECT_EQ(1, log.Count(kNoRoot[1], 3));
}

TEST(BuildSubTree, SkipsARecordOutsideItsParentPath) {
  LogCapture log;
  Tree_NodePtr built = Tree_Node::BuildSubTree(
      Vec({{"x", "", "", 0}, {"xa", "x", "1", 0}, {"x\\b", "x", "2", 0}, {"x", "x", "3", 0}}), "t");
  EXPECT_EQ("t[x[b=2/0]]", Shape(built));
  EXPECT_EQ((std::vector<std::string>{
                "BuildSubTree : the path <x> does not begin with its parent path <x> and a "
                "separator, the element is skipped\n",
                "BuildSubTree : the path <xa> does not begin with its parent path <x> and a "
                "separator, the element is skipped\n"}),
            log.Texts(3));
}

TEST(BuildSubTree, DeepChainNeedsNoRecursion) {
  constexpr int kDepth = 5000;
  Tree_NodePtr chain = MakeChain(kDepth);
  auto vec = new NodeInfoVec;
  Tree_Node::ConvertTreeNodeToVec(chain, "", vec);
  ASSERT_EQ(static_cast<std::size_t>(kDepth), vec->entries());
  Tree_NodePtr rebuilt = Tree_Node::BuildSubTree(vec, "top");
  EXPECT_EQ(kDepth + 1, rebuilt->GetNodeNum());
  Tree_NodePtr node = rebuilt;
  for (int depth = 0; depth < kDepth; ++depth) {
    ASSERT_EQ(1, node->GetChildCount()) << depth;
    node = node->GetChildAt(0);
  }
  EXPECT_EQ(0, node->GetChildCount());
}
