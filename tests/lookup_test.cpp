#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/test_support.h"

namespace {

// root with children a (which has a child b) and a leaf v=1.
struct SmallTree {
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr a = AddBranch(root, "a");
  Tree_NodePtr b = AddBranch(a, "b");
  Tree_NodePtr v = AddLeaf(root, "v", "1");
  Tree_Node* Resolve(const char* path) { return root->GetRelativeNode(path, root).get(); }
};

}  // namespace

TEST(PathResolution, EmptyElementsEndTheWalkAndNamesMatchExactly) {
  SmallTree tree;
  AddBranch(tree.root, "a");  // a second a, at index 2: the first one keeps winning
  for (const char* path : {"", "\\a\\b"}) EXPECT_EQ(tree.root.get(), tree.Resolve(path)) << path;
  for (const char* path : {"a", "a\\", "a\\\\b"})
    EXPECT_EQ(tree.a.get(), tree.Resolve(path)) << path;
  for (const char* path : {"a\\c", "v\\x", "root\\a", "A", " a"})
    EXPECT_EQ(nullptr, tree.Resolve(path)) << path;
  EXPECT_EQ(tree.b.get(), tree.Resolve("a\\b"));
  EXPECT_EQ(tree.a.get(), tree.root->Get(RWCString("a"), tree.root.get()));
  EXPECT_EQ(nullptr, tree.root->Get(RWCString(), static_cast<Tree_Node*>(nullptr)));
}

TEST(PathResolution, ByRefResultsReferToTheStoredHandles) {
  SmallTree tree;
  Tree_NodePtr& root = tree.root;
  const long count_of_b = tree.b.UseCount();
  Tree_Path to_b("a\\b"), empty(""), to_leaf("v"), empty_on_leaf("");
  EXPECT_EQ(&tree.a->GetChildAt(0), &root->GetRelativeNodeByRef(to_b, root));
  EXPECT_EQ(count_of_b, tree.b.UseCount());
  EXPECT_EQ(&root, &root->GetRelativeNodeByRef(empty, root));
  EXPECT_EQ(&root->GetChildAt(0), &root->GetByRef(RWCString("a"), root));
  // The sub-tree walks refuse a leaf, also one named by the empty path.
  EXPECT_EQ(&Tree_Node::NULL_TREE_NODE_PTR, &root->GetRelativeSubTreeByRef(to_leaf, root));
  EXPECT_EQ(nullptr, tree.v->GetRelativeSubTree(empty_on_leaf, tree.v).get());
}

TEST(GetOrCreate, AppendsMissingBranchesOnceAndNeverIntoALeaf) {
  SmallTree tree;
  LogCapture log;  // keeps the refusal of Insert out of the test output
  Tree_NodePtr z = tree.root->GetOrCreateRelativeNode("x\\y\\z", tree.root);
  ASSERT_NE(nullptr, z.get());
  EXPECT_EQ("root\\x\\y\\z", z->GetPath().str());
  EXPECT_EQ(1, z->IsAllowsChildren());
  EXPECT_TRUE(z.IsProtected());
  // The lookup is exact, so " x" is not found; the new child is stored as "x".
  tree.root->GetOrCreateRelativeNode(" x", tree.root);
  EXPECT_EQ((std::vector<std::string>{"a", "v", "x", "x"}), ChildNames(tree.root));
  const int node_count = tree.root->GetNodeNum();
  EXPECT_EQ(z, tree.root->GetOrCreateRelativeNode("x\\y\\z", tree.root));
  EXPECT_EQ(tree.root, tree.root->GetOrCreateRelativeNode("", tree.root));
  // Through the leaf v: a parentless q outside the tree, which stays as it was; the leak
  // checker of the sanitizer builds proves that the node made for p died.
  Tree_NodePtr outside = tree.root->GetOrCreateRelativeNode("v\\p\\q", tree.root);
  ASSERT_NE(nullptr, outside.get());
  EXPECT_EQ("q", outside->GetPath().str());
  EXPECT_EQ(nullptr, outside->GetParent());
  EXPECT_EQ(node_count, tree.root->GetNodeNum());
  EXPECT_FALSE(tree.root->GetOrCreateUnProtectedRelativeNode("a\\w", tree.root).IsProtected());
}

TEST(IsPathHit, MatchesOneNameAndPointsAtTheRest) {
  const char path[] = "a\\b\\c";
  const char* rest = nullptr;
  EXPECT_FALSE(Tree_NodeTestAccess::IsPathHit(path, "a", rest));
  EXPECT_EQ(path + 2, rest);
  EXPECT_TRUE(Tree_NodeTestAccess::IsPathHit("a", "a", rest));
  EXPECT_EQ(nullptr, rest);
  const std::pair<const char*, const char*> misses[] = {
      {"ab", "a"}, {"a", "ab"}, {"A", "a"}, {nullptr, "a"}};
  for (const auto& [miss, name] : misses) {
    rest = path;
    EXPECT_FALSE(Tree_NodeTestAccess::IsPathHit(miss, name, rest)) << (miss ? miss : "null");
    EXPECT_EQ(nullptr, rest);
  }
}

namespace {

// The stored handle of the first child of `node` named `name`, found by reading every child
// in order through the public accessors, or null.
const Tree_NodePtr* FirstByScan(const Tree_NodePtr& node, const std::string& name) {
  for (int i = 0; i < node->GetChildCount(); ++i) {
    if (node->GetChildAt(i)->KeyName().str() == name) return &node->GetChildAt(i);
  }
  return nullptr;
}

// Every lookup by name under `node` agrees with the scan: the first child of each name, as
// the stored handle itself.
void ExpectLookupsMatchScan(const Tree_NodePtr& node, const std::vector<std::string>& names) {
  Tree_NodePtr this_ptr = node;
  for (const std::string& name : names) {
    const Tree_NodePtr* expected = FirstByScan(node, name);
    Tree_NodePtr& by_ref = node->GetByRef(name, this_ptr);
    if (expected == nullptr) {
      EXPECT_EQ(&Tree_Node::NULL_TREE_NODE_PTR, &by_ref) << name;
      EXPECT_EQ(nullptr, node->GetRelativeNode(RWCString(name), node).get()) << name;
    } else {
      EXPECT_EQ(expected, &by_ref) << name;
      EXPECT_EQ(expected->get(), node->Get(RWCString(name), node.get())) << name;
    }
  }
}

}  // namespace

TEST(NameLookup, WideNodesFindTheFirstOfEqualNamesThroughInsertsRemovesAndMoves) {
  // Wide enough for the name index, with duplicate names: n0..n39, then dup at 5 and 30.
  const Tree_NodePtr node = MakeBranch("wide");
  const Tree_NodePtr other = MakeBranch("other");
  std::vector<std::string> names{"dup", "new", "absent"};
  for (int i = 0; i < 40; ++i) {
    names.push_back("n" + std::to_string(i));
    AddBranch(node, names.back());
    AddBranch(other, "o" + std::to_string(i));
  }
  const Tree_NodePtr first_dup = MakeBranch("dup");
  const Tree_NodePtr second_dup = MakeBranch("dup");
  node->Insert(second_dup, 30);
  ExpectLookupsMatchScan(node, names);  // builds the index
  node->Insert(first_dup, 5);           // before an equal name
  EXPECT_EQ(first_dup.get(), node->Get(RWCString("dup"), node.get()));
  ExpectLookupsMatchScan(node, names);

  node->Remove(first_dup);  // the first of two equal names
  EXPECT_EQ(second_dup.get(), node->Get(RWCString("dup"), node.get()));
  node->Insert(first_dup, node->GetChildCount());  // after an equal name: the old first stays
  EXPECT_EQ(second_dup.get(), node->Get(RWCString("dup"), node.get()));
  node->Add(second_dup);  // moves behind the other one
  EXPECT_EQ(first_dup.get(), node->Get(RWCString("dup"), node.get()));
  ExpectLookupsMatchScan(node, names);

  // Moves between parents, both ways, and removal by name.
  other->Get(RWCString("o1"), other.get());  // the other node indexes too
  other->Insert(node->GetChildAt(0), 3);
  EXPECT_EQ(other->GetChildAt(3).get(), other->Get(RWCString("n0"), other.get()));
  node->Add(other->GetChildAt(3));
  EXPECT_EQ(nullptr, other->Get(RWCString("n0"), other.get()));
  EXPECT_EQ(1, node->Remove(RWCString("dup")));
  EXPECT_EQ(second_dup.get(), node->Get(RWCString("dup"), node.get()));
  ExpectLookupsMatchScan(node, names);

  // Narrowed to a few children and widened again.
  while (node->GetChildCount() > 3) node->Remove(1);
  ExpectLookupsMatchScan(node, names);
  for (int i = 0; i < 30; ++i) node->Insert(MakeBranch("n" + std::to_string(i % 7)), i % 5);
  ExpectLookupsMatchScan(node, names);
}

TEST(NameLookup, RandomEditsOfAWideNodeKeepEveryLookupExact) {
  std::mt19937 random(1234);
  const Tree_NodePtr node = MakeBranch("wide");
  const Tree_NodePtr other = MakeBranch("other");
  std::vector<std::string> names;
  for (int i = 0; i < 12; ++i) names.push_back("k" + std::to_string(i));
  const auto pick = [&](int bound) { return static_cast<int>(random() % bound); };
  for (int step = 0; step < 3000; ++step) {
    const int count = node->GetChildCount();
    switch (pick(5)) {
      case 0:
      case 1:
        node->Insert(MakeBranch(names[pick(12)]), pick(count + 1));
        break;
      case 2:
        if (count > 0) node->Remove(pick(count));
        break;
      case 3:  // a move within the node or to the other node and back
        if (count > 0) {
          const Tree_NodePtr child = node->GetChildAt(pick(count));
          if (pick(2) == 0) other->Add(child);
          // An index counts after the child leaves this node.
          const int slots = node->GetChildCount() + (child->GetParent() == node.get() ? 0 : 1);
          node->Insert(child, pick(slots));
        }
        break;
      default:
        if (count > 0) node->Remove(RWCString(names[pick(12)]));
        break;
    }
    if (step % 7 == 0) ExpectLookupsMatchScan(node, names);
    if (testing::Test::HasFailure()) return;
  }
}

TEST(NameLookup, ByRefResultsStayTheStoredHandlesAsTheNodeGrows) {
  const Tree_NodePtr node = MakeBranch("wide");
  Tree_NodePtr this_ptr = node;
  for (int i = 0; i < 20; ++i) AddBranch(node, "c" + std::to_string(i));
  AddLeaf(node->GetChildAt(3), "leaf", "v");
  Tree_NodePtr& held = node->GetByRef("c3", this_ptr);
  Tree_Path to_leaf("c3\\leaf");
  Tree_NodePtr& held_leaf = node->GetRelativeNodeByRef(to_leaf, this_ptr);
  for (int i = 20; i < 5000; ++i) AddBranch(node, "c" + std::to_string(i));
  node->Insert(MakeBranch("front"), 0);
  EXPECT_EQ(&node->GetChildAt(4), &held);
  EXPECT_EQ(&held, &node->GetByRef("c3", this_ptr));
  Tree_Path again("c3\\leaf");
  EXPECT_EQ(&held_leaf, &node->GetRelativeNodeByRef(again, this_ptr));
  EXPECT_EQ("v", node->GetValue("c3\\leaf", node));
  EXPECT_EQ(&node->GetChildAt(4999), &node->GetByRef("c4998", this_ptr));
}

namespace {

// The value a path names, found by scanning children with the guarded accessors: the model
// the lookups must agree with ("" for a missing path, a branch or a leaf without value).
std::string ValueByScan(const Tree_NodePtr& root, const std::vector<std::string>& path) {
  Tree_Node* node = root.get();
  for (const std::string& element : path) {
    Tree_Node* next = nullptr;
    for (int i = 0; i < node->GetChildCount() && next == nullptr; ++i) {
      if (std::string(node->GetChildAt(i)->KeyName().data()) == element) {
        next = node->GetChildAt(i).get();
      }
    }
    if (next == nullptr) return "";
    node = next;
  }
  if (node->IsAllowsChildren() != 0 || node->GetTreeValue() == nullptr) return "";
  return std::string(node->GetTreeValue()->GetValue().data());
}

}  // namespace

// Nodes of a few children remember, per child, where the last walk through it went next; the
// walks must stay exact whatever happened to those places since: children removed, inserted
// in front, moved to another parent, given or stripped of children, values replaced. Names of
// every length class (short, 4 to 7, 8 to 16, longer) differ in their first or last byte only.
TEST(PathResolution, WalksThroughSmallNodesStayExactAsTheNodesOnTheirWayChange) {
  LogCapture quiet(3);  // the refused moves below log why
  std::mt19937 random(99);
  const auto pick = [&](int bound) { return static_cast<int>(random() % bound); };
  const std::vector<std::string> names{"a",
                                       "b",
                                       "ab",
                                       "abcd",
                                       "abce",
                                       "bbcd",
                                       "abcdf",
                                       "name-001",
                                       "name-002",
                                       "xame-001",
                                       "a-sixteen-chars",
                                       "a-sixteen-charz",
                                       "b-sixteen-chars",
                                       "a-seventeen-chars",
                                       "a-seventeen-charz"};
  const Tree_NodePtr root = MakeBranch("root");
  std::vector<Tree_NodePtr> branches{root};
  const auto random_name = [&] {
    return names[static_cast<std::size_t>(pick(static_cast<int>(names.size())))];
  };
  // Three levels of 1 to 11 children (blocks with and without the per-child memory).
  for (std::size_t at = 0; at < branches.size() && branches.size() < 400; ++at) {
    const int children = 1 + pick(11);
    for (int i = 0; i < children; ++i) {
      if (pick(3) == 0) {
        AddLeaf(branches[at], random_name(), "v" + std::to_string(pick(1000)));
      } else {
        branches.push_back(AddBranch(branches[at], random_name()));
      }
    }
  }
  std::vector<std::vector<std::string>> paths;
  for (int i = 0; i < 300; ++i) {
    std::vector<std::string> path;
    for (int depth = 1 + pick(4); depth > 0; --depth) path.push_back(random_name());
    paths.push_back(path);
  }
  const auto check_all = [&] {
    for (int pass = 0; pass < 2; ++pass) {  // the second pass walks what the first one noted
      for (const std::vector<std::string>& path : paths) {
        std::string joined;
        for (const std::string& element : path) joined += (joined.empty() ? "" : "\\") + element;
        EXPECT_EQ(ValueByScan(root, path), std::string(root->GetValue(joined, root).data()))
            << joined;
        const Tree_NodePtr found = root->GetRelativeNode(RWCString(joined), root);
        if (found.get() != nullptr) {
          EXPECT_EQ(path.back(), found->KeyName().data()) << joined;
        }
      }
    }
  };
  check_all();
  for (int step = 0; step < 60 && !testing::Test::HasFailure(); ++step) {
    const Tree_NodePtr& branch =
        branches[static_cast<std::size_t>(pick(static_cast<int>(branches.size())))];
    const int count = branch->GetChildCount();
    switch (pick(5)) {
      case 0:  // a child (and all below it) leaves
        if (count > 0) branch->Remove(pick(count));
        break;
      case 1:  // a new leaf in front moves every slot
        AddLeaf(branch, random_name(), "new" + std::to_string(step));
        branch->Insert(branch->GetChildAt(branch->GetChildCount() - 1), 0);
        break;
      case 2:  // a child moves to another parent
        if (count > 0) {
          const Tree_NodePtr& to =
              branches[static_cast<std::size_t>(pick(static_cast<int>(branches.size())))];
          const Tree_NodePtr child = branch->GetChildAt(pick(count));
          to->Add(child);  // refused, with a message, into the child's own subtree
        }
        break;
      case 3:  // a leaf gets another value
        for (int i = 0; i < count; ++i) {
          const Tree_NodePtr child = branch->GetChildAt(i);
          if (child->IsAllowsChildren() == 0) {
            delete child->SetTreeValue(new Tree_Value(RWCString("set" + std::to_string(step)), 0));
          }
        }
        break;
      default:  // a branch grows past its first block
        for (int i = 0; i < 6; ++i) AddBranch(branch, random_name());
        break;
    }
    check_all();
  }
}
