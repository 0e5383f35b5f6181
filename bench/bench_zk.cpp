// The ZooKeeper store against a local server: a push of a 100,000-node tree pipelined beside
// the same push made of one synchronous create at a time, a pull of it, and the latency of a
// Set until another replica has applied it (median and 99th percentile over 1,000 changes).
// Needs a server: scripts/zk-server.sh start DIR, then TREE_ZK_CONNECT=127.0.0.1:$(cat DIR/port).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "store/Tree_ZkReplica.h"
#include "store/Tree_ZkStore.h"

namespace {

constexpr int kGroups = 100;
constexpr int kLeavesPerGroup = 999;  // with the groups and the top: 100,000 nodes

Tree_ZkOptions Options(int pipeline_depth = 1000) {
  Tree_ZkOptions options;
  const char* connect = std::getenv("TREE_ZK_CONNECT");
  options.connect = connect != nullptr ? connect : "";
  options.timeout_ms = 10000;
  options.pipeline_depth = pipeline_depth;
  return options;
}

bool HaveServer(benchmark::State& state) {
  if (Options().connect.empty()) state.SkipWithError("set TREE_ZK_CONNECT to a server's address");
  return !Options().connect.empty();
}

// The top, 100 groups, 999 leaves in each but the first, which has 998.
const Tree_NodePtr& BigTree() {
  static const Tree_NodePtr tree = [] {
    Tree_NodePtr top(new Tree_Node("top"));
    for (int g = 0; g < kGroups; ++g) {
      Tree_NodePtr group(new Tree_Node("group" + std::to_string(g)));
      for (int l = g == 0 ? 1 : 0; l < kLeavesPerGroup; ++l) {
        group->Add(Tree_NodePtr(new Tree_Node("key" + std::to_string(l),
                                              new Tree_Value("value-" + std::to_string(l), 0))));
      }
      top->Add(group);
    }
    return top;
  }();
  return tree;
}

std::string FreshZnode(const char* what) {
  static int serial = 0;
  return "/bench/" + std::string(what) + "-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
         std::to_string(++serial);
}

void Push(benchmark::State& state, int pipeline_depth) {
  if (!HaveServer(state)) return;
  Tree_ZkStore store(Options(pipeline_depth));
  for (auto _ : state) {
    const Tree_Status pushed = store.Push(BigTree(), FreshZnode("push"));
    if (!pushed) state.SkipWithError(pushed.Message().c_str());
  }
  state.counters["nodes"] = BigTree()->GetNodeNum();
}

void BM_PushPipelined(benchmark::State& state) {
  Push(state, 1000);
}
void BM_PushOneSyncCreateAtATime(benchmark::State& state) {
  Push(state, 1);
}

void BM_Pull(benchmark::State& state) {
  if (!HaveServer(state)) return;
  Tree_ZkStore store(Options());
  const std::string znode = FreshZnode("pull");
  if (const Tree_Status pushed = store.Push(BigTree(), znode); !pushed) {
    state.SkipWithError(pushed.Message().c_str());
    return;
  }
  for (auto _ : state) {
    Tree_NodePtr tree;
    const Tree_Status pulled = store.Pull(znode, tree);
    if (!pulled || tree->GetNodeNum() != BigTree()->GetNodeNum()) {
      state.SkipWithError(pulled ? "wrong node count" : pulled.Message().c_str());
    }
  }
}

// A 100-node tree; each iteration sets one value through a store and waits until a replica
// of the znode has applied it.
void BM_SetSeenByReplica(benchmark::State& state) {
  if (!HaveServer(state)) return;
  Tree_NodePtr tree(new Tree_Node("cfg"));
  for (int i = 0; i < 99; ++i) {
    tree->Add(Tree_NodePtr(new Tree_Node("key" + std::to_string(i), new Tree_Value("0", 0))));
  }
  const std::string znode = FreshZnode("set");
  Tree_ZkStore store(Options());
  if (const Tree_Status pushed = store.Push(tree, znode); !pushed) {
    state.SkipWithError(pushed.Message().c_str());
    return;
  }
  std::mutex mutex;
  std::condition_variable seen;
  std::string last_value;
  Tree_ZkReplica replica(Options(), znode, [&](const std::vector<Tree_ZkChange>& changes) {
    std::lock_guard<std::mutex> lock(mutex);
    for (const Tree_ZkChange& change : changes) last_value = change.new_value;
    seen.notify_all();
  });
  if (const Tree_Status started = replica.Start(); !started) {
    state.SkipWithError(started.Message().c_str());
    return;
  }
  std::vector<double> latencies_ms;
  int serial = 0;
  for (auto _ : state) {
    const std::string value = std::to_string(++serial);
    const auto start = std::chrono::steady_clock::now();
    if (const Tree_Status set = store.Set(znode, "key42", value); !set) {
      state.SkipWithError(set.Message().c_str());
      break;
    }
    std::unique_lock<std::mutex> lock(mutex);
    if (!seen.wait_for(lock, std::chrono::seconds(10), [&] { return last_value == value; })) {
      state.SkipWithError("the replica did not see the change within 10 s");
      break;
    }
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - start;
    latencies_ms.push_back(elapsed.count());
    state.SetIterationTime(elapsed.count() / 1000);
  }
  if (latencies_ms.empty()) return;
  std::sort(latencies_ms.begin(), latencies_ms.end());
  state.counters["median_ms"] = latencies_ms[latencies_ms.size() / 2];
  state.counters["p99_ms"] = latencies_ms[latencies_ms.size() * 99 / 100];
}

BENCHMARK(BM_PushPipelined)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_PushOneSyncCreateAtATime)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Pull)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_SetSeenByReplica)->Unit(benchmark::kMillisecond)->Iterations(1000)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
