// Deep copies, merges, change trees and pruning of trees of a million nodes, wide and deep.
// Each benchmark warms up first: the first run of an operation that allocates a million nodes
// also pays for the process's first touch of that memory.
#include <benchmark/benchmark.h>

#include <string>

#include "Tree/Tree_Node.h"

namespace {

// `prefix` followed by the decimal digits of `number`.
std::string Name(char prefix, int number) {
  std::string name(1, prefix);
  name += std::to_string(number);
  return name;
}

Tree_NodePtr Branch(const std::string& name) {
  return Tree_NodePtr(new Tree_Node(RWCString(name)));
}

Tree_NodePtr Leaf(const std::string& name, int is_change) {
  return Tree_NodePtr(new Tree_Node(RWCString(name), new Tree_Value("value", is_change)));
}

// A top with `branches` branches b<first>, b<first+1>, ..., each holding `leaves` leaves
// l<first>, l<first+1>, ...; every `changed_every`-th leaf (when nonzero) is marked changed.
Tree_NodePtr Wide(int branches, int leaves, int first, int changed_every = 0) {
  Tree_NodePtr top = Branch("top");
  for (int i = 0; i < branches; ++i) {
    Tree_NodePtr branch = Branch(Name('b', first + i));
    for (int j = 0; j < leaves; ++j) {
      const bool changed = changed_every != 0 && j % changed_every == 0;
      branch->Add(Leaf(Name('l', first + j), changed ? 1 : 0));
    }
    top->Add(branch);
  }
  return top;
}

// A chain of `levels` branches named c, with one leaf below the lowest.
Tree_NodePtr Chain(int levels, const std::string& leaf_name) {
  Tree_NodePtr chain = Leaf(leaf_name, 1);
  for (int i = 0; i < levels; ++i) {
    Tree_NodePtr parent = Branch("c");
    parent->Add(chain);
    chain = parent;
  }
  return chain;
}

// Releases `result` outside the timed region, so only the operation itself is measured.
void ReleaseUntimed(benchmark::State& state, Tree_NodePtr& result) {
  state.PauseTiming();
  result = Tree_NodePtr();
  state.ResumeTiming();
}

void SetNodes(benchmark::State& state, long nodes) {
  state.SetItemsProcessed(static_cast<long>(state.iterations()) * nodes);
}

void BM_Duplicate(benchmark::State& state) {
  const Tree_NodePtr tree = Wide(static_cast<int>(state.range(0)), 1000, 0);
  for (auto _ : state) {
    Tree_NodePtr result = tree->DuplicateFromHereDown(true);
    ReleaseUntimed(state, result);
  }
  SetNodes(state, tree->GetNodeNum());
}
BENCHMARK(BM_Duplicate)->Arg(1000)->Unit(benchmark::kMillisecond)->MinWarmUpTime(1.0);

// Half the branch names and, within shared branches, half the leaf names overlap.
void BM_MergeTrees(benchmark::State& state,
                   Tree_NodePtr (*merge)(const Tree_NodePtr&, const Tree_NodePtr&)) {
  const int branches = static_cast<int>(state.range(0));
  const Tree_NodePtr first = Wide(branches, 1000, 0);
  const Tree_NodePtr second = Wide(branches, 1000, branches / 2);
  for (auto _ : state) {
    Tree_NodePtr result = merge(first, second);
    ReleaseUntimed(state, result);
  }
  SetNodes(state, first->GetNodeNum() + second->GetNodeNum());
}
BENCHMARK_CAPTURE(BM_MergeTrees, Merge, &Tree_Node::Merge)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->MinWarmUpTime(1.0);
BENCHMARK_CAPTURE(BM_MergeTrees, MergeOneLevel, &Tree_Node::MergeOneLevel)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->MinWarmUpTime(1.0);

// One leaf in ten is changed.
void BM_GetChangesTreeNode(benchmark::State& state) {
  const Tree_NodePtr tree = Wide(static_cast<int>(state.range(0)), 1000, 0, 10);
  for (auto _ : state) {
    Tree_NodePtr result = Tree_Node::GetChangesTreeNode(tree);
    ReleaseUntimed(state, result);
  }
  SetNodes(state, tree->GetNodeNum());
}
BENCHMARK(BM_GetChangesTreeNode)->Arg(1000)->Unit(benchmark::kMillisecond)->MinWarmUpTime(1.0);

// Every branch holds 1000 empty branches; every other branch also holds one leaf. Building
// the tree is left out of the time.
void BM_RemoveEmptyBranches(benchmark::State& state) {
  const int branches = static_cast<int>(state.range(0));
  long nodes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Tree_NodePtr top = Branch("top");
    for (int i = 0; i < branches; ++i) {
      Tree_NodePtr branch = Branch(Name('b', i));
      for (int j = 0; j < 1000; ++j) branch->Add(Branch(Name('e', j)));
      if (i % 2 == 0) branch->Add(Leaf("l", 0));
      top->Add(branch);
    }
    nodes = top->GetNodeNum();
    state.ResumeTiming();
    benchmark::DoNotOptimize(top->RemoveEmptyBranches());
    state.PauseTiming();
    top = Tree_NodePtr();
    state.ResumeTiming();
  }
  SetNodes(state, nodes);
}
BENCHMARK(BM_RemoveEmptyBranches)->Arg(1000)->Unit(benchmark::kMillisecond)->MinWarmUpTime(1.0);

void BM_DuplicateChain(benchmark::State& state) {
  const Tree_NodePtr chain = Chain(static_cast<int>(state.range(0)), "x");
  for (auto _ : state) {
    Tree_NodePtr result = chain->DuplicateFromHereDown(true);
    ReleaseUntimed(state, result);
  }
  SetNodes(state, state.range(0) + 1);
}
BENCHMARK(BM_DuplicateChain)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->MinWarmUpTime(1.0);

// The same names at every level: each level merges into the next.
void BM_MergeChains(benchmark::State& state) {
  const Tree_NodePtr first = Chain(static_cast<int>(state.range(0)), "x");
  const Tree_NodePtr second = Chain(static_cast<int>(state.range(0)), "y");
  for (auto _ : state) {
    Tree_NodePtr result = Tree_Node::Merge(first, second);
    ReleaseUntimed(state, result);
  }
  SetNodes(state, 2 * (state.range(0) + 1));
}
BENCHMARK(BM_MergeChains)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->MinWarmUpTime(1.0);

}  // namespace

BENCHMARK_MAIN();
