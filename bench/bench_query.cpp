// Building and reading a wide configuration tree: 1,000 branches of 1,000 leaves each
// (1,001,001 nodes with the root). Names are looked up by a linear scan of a node's children,
// so a lookup costs about half of each level it passes. The same tree in
// Boost.PropertyTree, which hosts would otherwise pick, runs beside it for comparison.
#include <benchmark/benchmark.h>

#include <boost/property_tree/ptree.hpp>

#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "Tree/Tree_Node.h"

namespace {

constexpr int kBranches = 1000;
constexpr int kLeavesPerBranch = 1000;

RWCString Name(char prefix, int number) {
  std::string name(1, prefix);
  name += std::to_string(number);
  return RWCString(std::move(name));
}

RWCString BranchName(int branch) {
  return Name('b', branch);
}

RWCString LeafName(int leaf) {
  return Name('l', leaf);
}

// The tree as a host fills it: for every value, find or create the branch by its path, then
// append the leaf.
Tree_NodePtr BuildTree() {
  Tree_NodePtr root(new Tree_Node("root"));
  for (int branch = 0; branch < kBranches; ++branch) {
    const RWCString branch_path = BranchName(branch);
    for (int leaf = 0; leaf < kLeavesPerBranch; ++leaf) {
      Tree_NodePtr parent = root->GetOrCreateRelativeNode(branch_path, root);
      parent->Add(Tree_NodePtr(new Tree_Node(LeafName(leaf), new Tree_Value("value", 0))));
    }
  }
  return root;
}

void BM_BuildTree(benchmark::State& state) {
  for (auto _ : state) {
    Tree_NodePtr root = BuildTree();
    benchmark::DoNotOptimize(root.get());
    state.PauseTiming();
    root = Tree_NodePtr();  // destruction is not part of the figure
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kBranches * kLeavesPerBranch);
}
BENCHMARK(BM_BuildTree)->Unit(benchmark::kMillisecond);

// The tree the lookups read, built on first use and released before main returns.
Tree_NodePtr g_read_tree;

// 4,096 random leaf paths, e.g. "b417\l82", the same for every benchmark.
std::vector<RWCString> RandomPaths() {
  std::mt19937 random(42);
  std::uniform_int_distribution<int> pick_branch(0, kBranches - 1);
  std::uniform_int_distribution<int> pick_leaf(0, kLeavesPerBranch - 1);
  std::vector<RWCString> paths;
  for (int i = 0; i < 4096; ++i) {
    paths.push_back(BranchName(pick_branch(random)) + Tree_Node::separator +
                    LeafName(pick_leaf(random)));
  }
  return paths;
}

// Random leaves, read through the path walk.
void BM_GetValueRandomPath(benchmark::State& state) {
  if (!g_read_tree) g_read_tree = BuildTree();
  const Tree_NodePtr& root = g_read_tree;
  const std::vector<RWCString> paths = RandomPaths();
  std::size_t next = 0;
  for (auto _ : state) {
    RWCString value = root->GetValue(paths[next], root);
    benchmark::DoNotOptimize(value);
    next = (next + 1) % paths.size();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetValueRandomPath);

// ---- Boost.PropertyTree: the same tree, built with put and read with get -------------------

using PropertyTree = boost::property_tree::ptree;

PropertyTree::path_type PropertyPath(const RWCString& path) {
  return PropertyTree::path_type(path.str(), '\\');
}

PropertyTree BuildPropertyTree() {
  PropertyTree root;
  for (int branch = 0; branch < kBranches; ++branch) {
    const RWCString branch_name = BranchName(branch);
    for (int leaf = 0; leaf < kLeavesPerBranch; ++leaf) {
      // Find or create the branch, then append the leaf: add, like Add, does not look for an
      // existing leaf of that name.
      auto found = root.get_child_optional(branch_name.str());
      PropertyTree& parent = found ? *found : root.add_child(branch_name.str(), PropertyTree());
      parent.add(LeafName(leaf).str(), "value");
    }
  }
  return root;
}

void BM_PropertyTreeBuild(benchmark::State& state) {
  for (auto _ : state) {
    auto root = std::make_unique<PropertyTree>(BuildPropertyTree());
    benchmark::DoNotOptimize(root.get());
    state.PauseTiming();
    root.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kBranches * kLeavesPerBranch);
}
BENCHMARK(BM_PropertyTreeBuild)->Unit(benchmark::kMillisecond);

void BM_PropertyTreeGetRandomPath(benchmark::State& state) {
  static const PropertyTree root = BuildPropertyTree();
  const std::vector<RWCString> paths = RandomPaths();
  std::size_t next = 0;
  for (auto _ : state) {
    std::string value = root.get<std::string>(PropertyPath(paths[next]));
    benchmark::DoNotOptimize(value);
    next = (next + 1) % paths.size();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PropertyTreeGetRandomPath);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_read_tree = Tree_NodePtr();  // its million nodes are released before the process exits
  return 0;
}
