// The store against a three-server ensemble on loopback: ctest starts it with
// scripts/zk-ensemble.sh (the zk_ensemble fixture) and passes its directory in
// TREE_ZK_ENSEMBLE_DIR. The tests kill and revive members, so they run one at a time.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "store/Tree_ZkReplica.h"
#include "store/Tree_ZkStore.h"
#include "test_support.h"

extern "C" const char* __lsan_default_suppressions() {
  return "leak:zoo_amulti\n";  // as in zk_store_test.cpp: the client's own, on a lost multi
}
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libzookeeper_mt.so\n";
}

namespace {

std::string Dir() {
  const char* dir = std::getenv("TREE_ZK_ENSEMBLE_DIR");
  return dir != nullptr ? dir : "";
}

std::string Line(const std::string& file) {
  std::ifstream in(Dir() + "/" + file);
  std::string line;
  std::getline(in, line);
  return line;
}

// Runs scripts/zk-ensemble.sh with `arguments` before the directory; returns its output.
std::string Ensemble(const std::string& arguments) {
  const std::string line = Line("script") + " " + arguments + " " + Dir() + " 2>&1";
  std::string output;
  FILE* pipe = popen(line.c_str(), "r");
  if (pipe == nullptr) return "popen failed";
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  EXPECT_EQ(0, pclose(pipe)) << line << ": " << output;
  while (!output.empty() && output.back() == '\n') output.pop_back();
  return output;
}

Tree_ZkOptions Options() {
  Tree_ZkOptions options;
  options.connect = Line("connect");
  options.timeout_ms = 15000;  // an election takes a few seconds on a loaded machine
  return options;
}

bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 3000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

// `groups` groups of 50 leaves, each the version.
Tree_NodePtr Config(int version, int groups = 20) {
  Tree_NodePtr root = MakeBranch("cfg");
  for (int g = 0; g < groups; ++g) {
    Tree_NodePtr group = AddBranch(root, "g" + std::to_string(g));
    for (int k = 0; k < 50; ++k) AddLeaf(group, "k" + std::to_string(k), std::to_string(version));
  }
  return root;
}

}  // namespace

// The leader killed during a push (while its chunks are written) and during a watch: the
// push retries on the client's new connection and lands complete, the replica follows every
// change and ends equal to the ensemble's tree.
TEST(ZkEnsemble, LeaderKilledDuringAPushAndAWatchLosesNothing) {
  ASSERT_FALSE(Dir().empty()) << "no ensemble directory in TREE_ZK_ENSEMBLE_DIR";
  const std::string znode = "/tree-tests/ensemble";
  Tree_ZkStore store(Options());
  ASSERT_TRUE(store.Push(Config(1), znode));
  Tree_ZkReplica replica(Options(), znode);
  ASSERT_TRUE(replica.Start());

  // One chunk at a time, in small chunks: hundreds of requests, one in flight when the leader
  // dies, which the lost connection fails.
  Tree_ZkOptions killing = Options();
  killing.pipeline_depth = 1;
  killing.chunk_bytes = 256;
  Tree_ZkStore pusher(killing);
  std::atomic<bool> done{false};
  std::string killed;
  std::thread killer([&] {
    const std::uint64_t start = pusher.RequestCount();
    while (!done && pusher.RequestCount() < start + 20) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    killed = Ensemble("leader");
    Ensemble("kill " + killed);
  });
  // New on every run against the same ensemble, so that every chunk is written.
  const int version = 2 + static_cast<int>(std::chrono::system_clock::now().time_since_epoch() /
                                           std::chrono::milliseconds(1) % 1000000000);
  Tree_Status pushed;
  std::vector<std::string> retries;
  {
    LogCapture log(4);
    pushed = pusher.Push(Config(version, 100), znode);
    done = true;
    killer.join();
    retries = log.Texts(4);
  }
  ASSERT_FALSE(killed.empty());
  EXPECT_TRUE(pushed) << pushed.Message();
  EXPECT_NE(retries.end(),
            std::find_if(retries.begin(), retries.end(), [](const std::string& text) {
              return text.find("connection loss") != std::string::npos &&
                     text.find("trying again") != std::string::npos;
            }));
  Tree_NodePtr pulled;
  ASSERT_TRUE(store.Pull(znode, pulled));
  EXPECT_EQ(Dump(Config(version, 100)), Dump(pulled));

  Ensemble("revive " + killed);
  const std::string second = Ensemble("leader");
  Ensemble("kill " + second);  // the new leader, while the replica watches
  ASSERT_TRUE(store.Set(znode, "g7\\k7", "after"));
  const auto value = [&] {
    const auto lock = replica.Lock();
    Tree_NodePtr node = replica.Tree()->GetRelativeNode("g7\\k7", replica.Tree());
    return node.get() == nullptr ? std::string() : node->GetTreeValue()->GetValue().str();
  };
  EXPECT_TRUE(Eventually([&] { return value() == "after"; })) << value();
  EXPECT_TRUE(replica.WaitUntilCurrent(15000));
  ASSERT_TRUE(store.Pull(znode, pulled));
  const auto lock = replica.Lock();
  pulled->ExecuteOnEntireSubtree([](Tree_Node* node) {
    if (Tree_Value* each = node->GetTreeValue(); each != nullptr) each->SetIsChange(0);
  });
  replica.Tree()->ExecuteOnEntireSubtree([](Tree_Node* node) {
    if (Tree_Value* each = node->GetTreeValue(); each != nullptr) each->SetIsChange(0);
  });
  EXPECT_EQ(Dump(pulled), Dump(replica.Tree()));
  Ensemble("revive " + second);  // whole again for whoever comes next
}
