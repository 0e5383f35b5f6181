// Serialization on a tree of 1,000,000 nodes: the id vector, the byte block (beside the memcpy
// bandwidth of a block of the same size on the same machine), the decoder, and the subtree
// checksums, cold and cached.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "Tree/Tree_Node.h"

namespace {

using IdVec = RWTPtrOrderedVector<Tree_IdNodeInfo>;

constexpr int kBranches = 999;
constexpr int kLeavesPerBranch = 1000;  // with the top: 1 + 999 + 999,000 = 1,000,000 nodes

// The top, 999 branches, each with 1,000 value leaves ("key0042" = "value-42042").
const Tree_NodePtr& BigTree() {
  static const Tree_NodePtr tree = [] {
    Tree_NodePtr top(new Tree_Node("top"));
    char name[32];
    char value[32];
    for (int b = 0; b < kBranches; ++b) {
      std::snprintf(name, sizeof name, "branch%03d", b);
      Tree_NodePtr branch(new Tree_Node(name));
      for (int l = 0; l < kLeavesPerBranch; ++l) {
        std::snprintf(name, sizeof name, "key%04d", l);
        std::snprintf(value, sizeof value, "value-%d", b * kLeavesPerBranch + l);
        branch->Add(Tree_NodePtr(new Tree_Node(name, new Tree_Value(value, l % 7 == 0))));
      }
      top->Add(branch);
    }
    return top;
  }();
  return tree;
}

void FreeVec(IdVec* vec) {
  vec->clearAndDestroy();
  delete vec;
}

// The block of the whole tree, written once.
const std::vector<char>& BigBlock() {
  static const std::vector<char> block = [] {
    int size = 0;
    std::unique_ptr<char[]> bytes(Tree_Node::GetSerializeIdNodeInfoVec(
        Tree_Node::GetIdNodeVecFromTree(BigTree()), size, "", false));
    return std::vector<char>(bytes.get(), bytes.get() + size);
  }();
  return block;
}

void ClearChecksums(const Tree_NodePtr& tree) {
  tree->ExecuteOnEntireSubtree([](Tree_Node* node) { node->SetChecksum(0, true, false); });
}

void BM_IdVector(benchmark::State& state) {
  const Tree_NodePtr& tree = BigTree();
  for (auto _ : state) {
    IdVec* vec = Tree_Node::GetIdNodeVecFromTree(tree);
    benchmark::DoNotOptimize(vec);
    FreeVec(vec);
  }
  state.SetItemsProcessed(state.iterations() * tree->GetNodeNum());
}
BENCHMARK(BM_IdVector)->Unit(benchmark::kMillisecond);

// Vector and block together, as a host ships a subtree.
void BM_VectorAndBlock(benchmark::State& state) {
  const Tree_NodePtr& tree = BigTree();
  int size = 0;
  for (auto _ : state) {
    std::unique_ptr<char[]> block(Tree_Node::GetSerializeIdNodeInfoVec(
        Tree_Node::GetIdNodeVecFromTree(tree), size, "", false));
    benchmark::DoNotOptimize(block.get());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(size));
  state.counters["block_bytes"] = size;
}
BENCHMARK(BM_VectorAndBlock)->Unit(benchmark::kMillisecond);

// The writer alone: sizing, writing, and freeing the consumed vector.
void BM_BlockWriter(benchmark::State& state) {
  const Tree_NodePtr& tree = BigTree();
  int size = 0;
  for (auto _ : state) {
    state.PauseTiming();
    IdVec* vec = Tree_Node::GetIdNodeVecFromTree(tree);
    state.ResumeTiming();
    std::unique_ptr<char[]> block(Tree_Node::GetSerializeIdNodeInfoVec(vec, size, "", false));
    benchmark::DoNotOptimize(block.get());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(size));
}
BENCHMARK(BM_BlockWriter)->Unit(benchmark::kMillisecond);

// memcpy of a block of the same size: the machine's ceiling for moving those bytes.
void BM_MemcpyOfBlockSize(benchmark::State& state) {
  const std::vector<char>& source = BigBlock();
  std::vector<char> target(source.size());
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), source.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(source.size()));
}
BENCHMARK(BM_MemcpyOfBlockSize)->Unit(benchmark::kMillisecond);

void BM_Decode(benchmark::State& state) {
  const std::vector<char>& block = BigBlock();
  RWCString path;
  for (auto _ : state) {
    IdVec* vec = Tree_Node::GetIdNodeInfoVecFromSerialized(
        block.data(), static_cast<int>(block.size()), false, path);
    benchmark::DoNotOptimize(vec);
    FreeVec(vec);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(block.size()));
}
BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond);

// Every checksum of the tree recomputed: children in index order, or sorted by name.
void BM_ChecksumCold(benchmark::State& state, bool ignore_order) {
  const Tree_NodePtr& tree = BigTree();
  for (auto _ : state) {
    state.PauseTiming();
    ClearChecksums(tree);
    state.ResumeTiming();
    benchmark::DoNotOptimize(ignore_order ? tree->GetChecksumIgnoreOrder() : tree->GetChecksum());
  }
  state.SetItemsProcessed(state.iterations() * tree->GetNodeNum());
}
BENCHMARK_CAPTURE(BM_ChecksumCold, InIndexOrder, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ChecksumCold, IgnoringOrder, true)->Unit(benchmark::kMillisecond);

void BM_ChecksumCached(benchmark::State& state) {
  const Tree_NodePtr& tree = BigTree();
  ClearChecksums(tree);
  tree->GetChecksum();
  for (auto _ : state) benchmark::DoNotOptimize(tree->GetChecksum());
}
BENCHMARK(BM_ChecksumCached);

}  // namespace

BENCHMARK_MAIN();
