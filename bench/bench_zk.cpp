// The ZooKeeper store against a local server: a push of a 100,000-node tree pipelined beside
// the same push made of one synchronous create at a time, a pull of it, a push and a pull of a
// 1,000,000-node tree, the znodes and bytes a tree takes on the server (and after 100 pushes
// of small changes), and the latency of a Set until one or 100 replicas have applied it.
// Needs a server: scripts/zk-server.sh start DIR, then TREE_ZK_CONNECT=127.0.0.1:$(cat DIR/port).
#include <benchmark/benchmark.h>
#include <zookeeper/zookeeper.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "store/Tree_ZkReplica.h"
#include "store/Tree_ZkSession.h"
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

// The top, `groups` groups, 999 leaves in each but the first, which has 998: 1,000 nodes a
// group. Every value is different ("value-G-L"), so that no two chunks are equal and shared.
Tree_NodePtr MakeTree(int groups) {
  Tree_NodePtr top(new Tree_Node("top"));
  for (int g = 0; g < groups; ++g) {
    Tree_NodePtr group(new Tree_Node("group" + std::to_string(g)));
    for (int l = g == 0 ? 1 : 0; l < kLeavesPerGroup; ++l) {
      group->Add(Tree_NodePtr(new Tree_Node(
          "key" + std::to_string(l),
          new Tree_Value("value-" + std::to_string(g) + "-" + std::to_string(l), 0))));
    }
    top->Add(group);
  }
  return top;
}

// The 100,000-node tree.
const Tree_NodePtr& BigTree() {
  static const Tree_NodePtr tree = MakeTree(kGroups);
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

// A push of 1,000,000 nodes to a new znode, then a pull of it.
void BM_PushMillion(benchmark::State& state) {
  if (!HaveServer(state)) return;
  static const Tree_NodePtr tree = MakeTree(1000);
  Tree_ZkStore store(Options());
  for (auto _ : state) {
    const Tree_Status pushed = store.Push(tree, FreshZnode("million"));
    if (!pushed) state.SkipWithError(pushed.Message().c_str());
  }
  state.counters["nodes"] = tree->GetNodeNum();
}

void BM_PullMillion(benchmark::State& state) {
  if (!HaveServer(state)) return;
  static const Tree_NodePtr tree = MakeTree(1000);
  Tree_ZkStore store(Options());
  const std::string znode = FreshZnode("million-pull");
  if (const Tree_Status pushed = store.Push(tree, znode); !pushed) {
    state.SkipWithError(pushed.Message().c_str());
    return;
  }
  for (auto _ : state) {
    Tree_NodePtr pulled;
    const Tree_Status status = store.Pull(znode, pulled);
    if (!status || pulled->GetNodeNum() != tree->GetNodeNum()) {
      state.SkipWithError(status ? "wrong node count" : status.Message().c_str());
    }
  }
}

// The znodes under Z (the pointer, Z/chunks and the chunks) and the bytes of their data.
struct Footprint {
  std::uint64_t znodes = 0;
  std::uint64_t bytes = 0;
};

Footprint FootprintOf(tree_zk::Session& session, const std::string& znode) {
  Footprint footprint;
  std::vector<std::string> names;
  if (session.Children(znode + "/chunks", names) != ZOK) return footprint;
  names.push_back("");  // Z/chunks itself
  for (const std::string& name : names) {
    struct Stat stat {};
    if (session.Exists(znode + "/chunks" + (name.empty() ? "" : "/" + name), false, stat) == ZOK) {
      ++footprint.znodes;
      footprint.bytes += static_cast<std::uint64_t>(stat.dataLength);
    }
  }
  struct Stat stat {};
  if (session.Exists(znode, false, stat) == ZOK) {
    ++footprint.znodes;
    footprint.bytes += static_cast<std::uint64_t>(stat.dataLength);
  }
  return footprint;
}

// The server's footprint of the 100,000-node tree: after its push, after 100 pushes that each
// change one value (in a different group each time, the default 60 s grace period keeping
// what they replaced), and after a collection once the grace period is over (one with no grace
// period).
void BM_ServerFootprint(benchmark::State& state) {
  if (!HaveServer(state)) return;
  for (auto _ : state) {
    const std::string znode = FreshZnode("footprint");
    Tree_NodePtr tree = MakeTree(kGroups);
    Tree_ZkStore store(Options());
    tree_zk::Session session(Options());
    if (const Tree_Status opened = session.Open(); !opened) {
      state.SkipWithError(opened.Message().c_str());
      return;
    }
    if (const Tree_Status pushed = store.Push(tree, znode); !pushed) {
      state.SkipWithError(pushed.Message().c_str());
      return;
    }
    const Footprint first = FootprintOf(session, znode);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i) {
      Tree_NodePtr leaf = tree->GetChildAt(i % kGroups)->GetChildAt(500);
      delete leaf->SetTreeValue(new Tree_Value("changed-" + std::to_string(i), 0));
      if (const Tree_Status pushed = store.Push(tree, znode); !pushed) {
        state.SkipWithError(pushed.Message().c_str());
        return;
      }
    }
    const std::chrono::duration<double> pushes = std::chrono::steady_clock::now() - start;
    const Footprint after = FootprintOf(session, znode);
    Tree_ZkOptions no_grace = Options();
    no_grace.gc_grace_ms = 0;
    std::uint64_t deleted = 0;
    if (const Tree_Status collected = Tree_ZkStore(no_grace).CollectGarbage(znode, &deleted);
        !collected) {
      state.SkipWithError(collected.Message().c_str());
      return;
    }
    const Footprint collected = FootprintOf(session, znode);
    state.counters["znodes"] = static_cast<double>(first.znodes);
    state.counters["MB"] = static_cast<double>(first.bytes) / 1e6;
    state.counters["znodes_after_100"] = static_cast<double>(after.znodes);
    state.counters["MB_after_100"] = static_cast<double>(after.bytes) / 1e6;
    state.counters["znodes_collected"] = static_cast<double>(collected.znodes);
    state.counters["MB_collected"] = static_cast<double>(collected.bytes) / 1e6;
    state.counters["s_per_small_push"] = pushes.count() / 100;
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

// `state.range(0)` replicas (each its own session) of the 100,000-node tree; each iteration
// sets one value through a store and waits until every replica has applied it. Reports the
// latency from the Set's start to each replica's listener (median and 99th percentile over
// all replicas and changes), the requests each replica sent per change, the Set's own
// requests, and the process CPU time per change and replica (the Set and the client's
// threads included, so an upper bound on a replica's work).
void BM_SetSeenByReplicas(benchmark::State& state) {
  if (!HaveServer(state)) return;
  const int count = static_cast<int>(state.range(0));
  const std::string znode = FreshZnode("replicas");
  Tree_ZkStore store(Options());
  if (const Tree_Status pushed = store.Push(BigTree(), znode); !pushed) {
    state.SkipWithError(pushed.Message().c_str());
    return;
  }
  std::mutex mutex;
  std::condition_variable seen;
  std::string wanted;
  int arrived = 0;
  std::chrono::steady_clock::time_point start;
  std::vector<double> latencies_ms;
  std::vector<std::unique_ptr<Tree_ZkReplica>> replicas;
  for (int i = 0; i < count; ++i) {
    replicas.push_back(std::make_unique<Tree_ZkReplica>(
        Options(), znode, [&](const std::vector<Tree_ZkChange>& changes) {
          std::lock_guard<std::mutex> lock(mutex);
          for (const Tree_ZkChange& change : changes) {
            if (change.new_value != wanted || wanted.empty()) continue;
            const std::chrono::duration<double, std::milli> elapsed =
                std::chrono::steady_clock::now() - start;
            latencies_ms.push_back(elapsed.count());
            ++arrived;
            seen.notify_all();
          }
        }));
    if (const Tree_Status started = replicas.back()->Start(); !started) {
      state.SkipWithError(started.Message().c_str());
      return;
    }
  }
  for (const auto& replica : replicas) replica->WaitUntilCurrent(60000);
  std::uint64_t replica_requests = 0;
  std::uint64_t set_requests = 0;
  int changes = 0;
  const std::clock_t cpu_start = std::clock();
  for (auto _ : state) {
    std::uint64_t before = 0;
    for (const auto& replica : replicas) before += replica->RequestCount();
    const std::uint64_t set_before = store.RequestCount();
    {
      std::lock_guard<std::mutex> lock(mutex);
      // Not "v" + std::to_string(...): GCC 12 at -O3 warns falsely (-Wrestrict) on its inlined
      // copy of the literal.
      wanted.assign(1, 'v');
      wanted += std::to_string(++changes);
      arrived = 0;
      start = std::chrono::steady_clock::now();
    }
    if (const Tree_Status set = store.Set(znode, "group42\\key500", wanted); !set) {
      state.SkipWithError(set.Message().c_str());
      break;
    }
    set_requests += store.RequestCount() - set_before;
    std::unique_lock<std::mutex> lock(mutex);
    if (!seen.wait_for(lock, std::chrono::seconds(30), [&] { return arrived == count; })) {
      state.SkipWithError("not every replica saw the change within 30 s");
      break;
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(elapsed.count());
    lock.unlock();
    for (const auto& replica : replicas) replica->WaitUntilCurrent(10000);
    std::uint64_t after = 0;
    for (const auto& replica : replicas) after += replica->RequestCount();
    replica_requests += after - before;
  }
  const double cpu_ms = 1000.0 * static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
  if (latencies_ms.empty() || changes == 0) return;
  std::sort(latencies_ms.begin(), latencies_ms.end());
  state.counters["median_ms"] = latencies_ms[latencies_ms.size() / 2];
  state.counters["p99_ms"] = latencies_ms[latencies_ms.size() * 99 / 100];
  state.counters["requests_per_replica_change"] =
      static_cast<double>(replica_requests) / (static_cast<double>(changes) * count);
  state.counters["set_requests"] = static_cast<double>(set_requests) / changes;
  state.counters["cpu_ms_per_change_replica"] = cpu_ms / (static_cast<double>(changes) * count);
}

BENCHMARK(BM_PushPipelined)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_PushOneSyncCreateAtATime)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Pull)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_PushMillion)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_PullMillion)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_ServerFootprint)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_SetSeenByReplica)->Unit(benchmark::kMillisecond)->Iterations(1000)->UseManualTime();
BENCHMARK(BM_SetSeenByReplicas)
    ->Arg(1)
    ->Arg(100)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(100)
    ->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
