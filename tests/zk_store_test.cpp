// The ZooKeeper store against a real server: ctest starts one with scripts/zk-server.sh (the
// zk_server fixture) and passes its directory in TREE_ZK_DIR; TREE_ZK_CONNECT, when set,
// points the tests at another server instead. Some tests stop and restart the server, so
// ctest runs these tests one at a time.
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

// The client library does not free the request of a zoo_multi that a lost connection cuts
// short (its own bookkeeping, allocated inside zoo_amulti); the push-interrupted test makes
// exactly that happen. The leak checker ignores that allocation site and nothing else.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:zoo_amulti\n";
}
// The client library formats the server's address for its log messages in one static buffer
// that every session's I/O thread shares; the race is inside the library (seen when two
// sessions lose their server at once) and only ever garbles a log line.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libzookeeper_mt.so\n";
}

namespace {

std::string ServerDir() {
  const char* dir = std::getenv("TREE_ZK_DIR");
  return dir != nullptr ? dir : "";
}

std::string Connect() {
  if (const char* connect = std::getenv("TREE_ZK_CONNECT"); connect != nullptr) return connect;
  std::ifstream port_file(ServerDir() + "/port");
  std::string port;
  port_file >> port;
  return "127.0.0.1:" + port;
}

// Runs scripts/zk-server.sh `command` on the test server (DIR/script names the script).
void Server(const std::string& command) {
  std::ifstream script_file(ServerDir() + "/script");
  std::string script;
  std::getline(script_file, script);
  ASSERT_FALSE(script.empty()) << "no server directory in TREE_ZK_DIR";
  const std::string line = script + " " + command + " " + ServerDir() + " >/dev/null";
  ASSERT_EQ(0, std::system(line.c_str())) << line;
}

Tree_ZkOptions Options(const std::string& auth = "") {
  Tree_ZkOptions options;
  options.connect = Connect();
  options.timeout_ms = 4000;
  options.auth = auth;
  return options;
}

// A znode of its own for each test.
std::string Znode() {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  return std::string("/tree-tests/") + info->test_suite_name() + "-" + info->name();
}

// Waits up to 10 s for `done`, polling.
bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 1000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

std::string ValueAt(Tree_ZkReplica& replica, const std::string& path) {
  const auto lock = replica.Lock();
  Tree_NodePtr tree = replica.Tree();
  if (tree.get() == nullptr) return "<none>";
  Tree_NodePtr node = tree->GetRelativeNode(path, tree);
  if (node.get() == nullptr || node->GetTreeValue() == nullptr) return "<none>";
  return node->GetTreeValue()->GetValue().str() + "/" +
         std::to_string(node->GetTreeValue()->IsChange());
}

Tree_NodePtr SmallTree(const std::string& port) {
  Tree_NodePtr root = MakeBranch("cfg");
  Tree_NodePtr srv = AddBranch(root, "srv");
  AddLeaf(srv, "port", port);
  AddLeaf(srv, "host", "db1");
  return root;
}

// Counts MightNeedMove calls, which Tree_Node sends when a child joins or leaves.
struct MoveCounter : Tree_NotifyList::Callback {
  void Notify() override {}
  void MightNeedMove(const Tree_NodePtr& /*node*/) override { ++moves; }
  int moves = 0;
};

}  // namespace

TEST(ZkStore, PushThenPullKeepsEveryNodeOfAnAwkwardTree) {
  Tree_NodePtr root = MakeBranch("top");
  AddLeaf(root, "dup", "first");
  AddLeaf(root, "dup", "second", 1);
  AddLeaf(root, "a/b", "slash");
  AddLeaf(root, ".", "dot");
  AddLeaf(root, "..", "dotdot");
  AddLeaf(root, "50%\x01x\x7f\xc3\xa9 z", "escaped");
  AddLeaf(root, "empty", "", 3);
  AddBranch(root, "no-value");
  Tree_NodePtr branch = AddBranch(root, "valued");
  delete branch->SetTreeValue(new Tree_Value("on a branch", 2));
  AddLeaf(AddBranch(branch, "dup"), "dup", std::string("nul\0inside", 10));

  Tree_ZkStore store(Options());
  ASSERT_TRUE(store.Push(root, Znode())) << store.Push(root, Znode()).Message();
  Tree_NodePtr pulled;
  const Tree_Status result = store.Pull(Znode(), pulled);
  ASSERT_TRUE(result) << result.Message();
  EXPECT_EQ(Dump(root), Dump(pulled));
  EXPECT_EQ(root->GetChecksum(), pulled->GetChecksum());

  // A second push replaces the first; Set and Remove then change it in place.
  AddLeaf(root, "later", "x");
  ASSERT_TRUE(store.Push(root, Znode()));
  ASSERT_TRUE(store.Set(Znode(), "dup", "changed"));
  ASSERT_TRUE(store.Set(Znode(), "new\\deep\\leaf", "made"));
  ASSERT_TRUE(store.Remove(Znode(), "valued"));
  EXPECT_FALSE(store.Remove(Znode(), "valued\\missing"));
  const Tree_Status through_leaf = store.Set(Znode(), "later\\below", "v");
  EXPECT_FALSE(through_leaf);
  EXPECT_EQ("cannot set 'later\\below' in " + Znode() + ": 'top\\later' is a leaf",
            through_leaf.Message());
  ASSERT_TRUE(store.Pull(Znode(), pulled));
  root->Remove("valued");
  delete root->GetChildAt(0)->SetTreeValue(new Tree_Value("changed", 1));
  AddLeaf(AddBranch(AddBranch(root, "new"), "deep"), "leaf", "made", 1);
  EXPECT_EQ(Dump(root), Dump(pulled));

  EXPECT_EQ("no tree at /tree-tests/never-pushed",
            store.Pull("/tree-tests/never-pushed", pulled).Message());
}

TEST(ZkStore, HundredThousandNodeTreeRoundTrips) {
  Tree_NodePtr root = MakeBranch("big");
  for (int i = 0; i < 100; ++i) {
    Tree_NodePtr group = AddBranch(root, "group" + std::to_string(i));
    for (int j = i == 0 ? 1 : 0; j < 999; ++j)
      AddLeaf(group, "key" + std::to_string(j), std::to_string(i * j));
  }
  ASSERT_EQ(100000, root->GetNodeNum());
  Tree_ZkStore store(Options());
  const Tree_Status pushed = store.Push(root, Znode());
  ASSERT_TRUE(pushed) << pushed.Message();
  Tree_NodePtr pulled;
  ASSERT_TRUE(store.Pull(Znode(), pulled));
  EXPECT_EQ(100000, pulled->GetNodeNum());
  EXPECT_EQ(root->GetChecksum(), pulled->GetChecksum());
  EXPECT_EQ("98", pulled->GetValue("group49\\key2", pulled).str());
}

TEST(ZkStore, RefusesOversizeAndUnauthorisedWritesBeforeChangingAnything) {
  const std::string znode = Znode();
  Tree_ZkStore alice(Options("alice:secret"));
  ASSERT_TRUE(alice.Push(SmallTree("80"), znode));

  Tree_NodePtr huge = SmallTree("80");
  AddLeaf(huge, "blob", std::string(2 << 20, 'x'));
  const Tree_Status oversize = alice.Push(huge, znode + "-huge");
  EXPECT_FALSE(oversize);
  EXPECT_NE(std::string::npos, oversize.Message().find("more than the server's limit of"))
      << oversize.Message();
  Tree_NodePtr pulled;
  EXPECT_EQ("no tree at " + znode + "-huge", alice.Pull(znode + "-huge", pulled).Message());
  EXPECT_FALSE(alice.Set(znode, "srv\\port", std::string(2 << 20, 'x')));

  Tree_ZkStore anonymous(Options());
  Tree_ZkStore bob(Options("bob:guess"));
  EXPECT_EQ(Tree_StatusCode::kTooLarge, oversize.Code());
  const std::string refused =
      "writing the chunks of " + znode + " refused: the znode's ACL does not grant it";
  for (const Tree_Status& status :
       {anonymous.Set(znode, "srv\\port", "1"), bob.Set(znode, "srv\\port", "1"),
        bob.Remove(znode, "srv"), anonymous.Push(SmallTree("1"), znode)}) {
    EXPECT_EQ(Tree_StatusCode::kDenied, status.Code());
    EXPECT_EQ(0u, status.Message().find(refused)) << status.Message();
  }

  ASSERT_TRUE(anonymous.Pull(znode, pulled));  // everyone may read
  EXPECT_EQ(Dump(SmallTree("80")), Dump(pulled));
  ASSERT_TRUE(alice.Set(znode, "srv\\port", "81"));
  ASSERT_TRUE(anonymous.Pull(znode, pulled));
  EXPECT_EQ("81", pulled->GetValue("srv\\port", pulled).str());

  Tree_ZkOptions private_options = Options("alice:secret");
  private_options.world_readable = false;
  ASSERT_TRUE(Tree_ZkStore(private_options).Push(SmallTree("80"), znode + "-private"));
  const Tree_Status hidden = anonymous.Pull(znode + "-private", pulled);
  EXPECT_EQ(Tree_StatusCode::kDenied, hidden.Code());
  EXPECT_EQ("reading " + znode + "-private refused: the znode's ACL does not grant it",
            hidden.Message());
}

TEST(ZkStore, UnreachableServerFailsNamingTheAddressAfterTheTimeout) {
  Tree_ZkOptions options;
  options.connect = "127.0.0.1:1";
  options.timeout_ms = 300;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ("cannot reach ZooKeeper at 127.0.0.1:1 within 300 ms",
            Tree_ZkStore(options).Push(SmallTree("80"), "/x").Message());
  Tree_ZkReplica replica(options, "/x");
  EXPECT_EQ("cannot reach ZooKeeper at 127.0.0.1:1 within 300 ms", replica.Start().Message());
  EXPECT_FALSE(replica.IsCurrent());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(ZkStore, ConcurrentPushIsDetectedAndTheOtherPushWins) {
  const std::string znode = Znode();
  Tree_ZkOptions options = Options();
  Tree_Status other;
  options.before_switch = [&] { other = Tree_ZkStore(Options()).Push(SmallTree("other"), znode); };
  const Tree_Status mine = Tree_ZkStore(options).Push(SmallTree("mine"), znode);
  ASSERT_TRUE(other) << other.Message();
  EXPECT_EQ("concurrent push to " + znode +
                " detected: it changed while this push was written; this push was discarded",
            mine.Message());
  Tree_NodePtr pulled;
  ASSERT_TRUE(Tree_ZkStore(Options()).Pull(znode, pulled));
  EXPECT_EQ("other", pulled->GetValue("srv\\port", pulled).str());
}

TEST(ZkStore, PushInterruptedByAServerStopLeavesThePreviousTreeComplete) {
  const std::string znode = Znode();
  ASSERT_TRUE(Tree_ZkStore(Options()).Push(SmallTree("before"), znode));
  Tree_ZkOptions options = Options();
  options.before_switch = [] { Server("stop"); };
  const Tree_Status interrupted = Tree_ZkStore(options).Push(SmallTree("after"), znode);
  Server("start");
  EXPECT_FALSE(interrupted);
  EXPECT_EQ(Tree_StatusCode::kUnavailable, interrupted.Code()) << interrupted.Message();
  Tree_NodePtr pulled;
  ASSERT_TRUE(Tree_ZkStore(Options()).Pull(znode, pulled));
  EXPECT_EQ(Dump(SmallTree("before")), Dump(pulled));
}

TEST(ZkReplica, TwoReplicasSeeASetThroughOneAndAPushByTheOther) {
  const std::string znode = Znode();
  ASSERT_TRUE(Tree_ZkStore(Options()).Push(SmallTree("80"), znode));
  std::vector<std::string> seen;
  Tree_ZkReplica first(Options(), znode, [&](const std::vector<Tree_ZkChange>& changes) {
    for (const Tree_ZkChange& change : changes)
      seen.push_back(change.path + "=" + change.new_value);
  });
  Tree_ZkReplica second(Options(), znode);
  ASSERT_TRUE(first.Start());
  ASSERT_TRUE(second.Start());
  EXPECT_TRUE(first.IsCurrent());
  EXPECT_EQ("80/0", ValueAt(second, "srv\\port"));
  MoveCounter moves;
  {
    const auto lock = second.Lock();
    second.Tree()->GetChildAt(0)->AddSubtreeCompleteNotifier(&moves);
  }

  ASSERT_TRUE(first.Set("srv\\port", "81"));
  EXPECT_TRUE(Eventually([&] { return ValueAt(first, "srv\\port") == "81/1"; }));
  EXPECT_TRUE(Eventually([&] { return ValueAt(second, "srv\\port") == "81/1"; }));

  Tree_NodePtr next = SmallTree("82");
  AddLeaf(next->GetChildAt(0), "user", "app");
  ASSERT_TRUE(second.Push(next));
  for (Tree_ZkReplica* replica : {&first, &second}) {
    EXPECT_TRUE(Eventually([&] { return ValueAt(*replica, "srv\\user") == "app/1"; }));
    EXPECT_EQ("82/1", ValueAt(*replica, "srv\\port"));
    EXPECT_EQ("db1/0", ValueAt(*replica, "srv\\host"));
  }
  {
    const auto lock = first.Lock();
    EXPECT_EQ(
        (std::vector<std::string>{"cfg\\srv\\port=81", "cfg\\srv\\port=82", "cfg\\srv\\user=app"}),
        seen);
  }
  EXPECT_TRUE(Eventually([&] {  // the host's notifier ran (under the tree lock)
    const auto lock = second.Lock();
    return moves.moves > 0;
  }));
  {
    const auto lock = second.Lock();
    second.Tree()->GetChildAt(0)->RemoveSubtreeCompleteNotifier(&moves);
  }
}

TEST(ZkReplica, AppliesARemovalOrAnInsertionToOneSlotAndKeepsTheOtherNodes) {
  const std::string znode = Znode();
  const auto tree_of = [](std::initializer_list<const char*> names) {
    Tree_NodePtr root = MakeBranch("cfg");
    Tree_NodePtr srv = AddBranch(root, "srv");
    for (const char* name : names) AddLeaf(srv, name, name);
    return root;
  };
  ASSERT_TRUE(Tree_ZkStore(Options()).Push(tree_of({"a", "b", "c", "d"}), znode));
  std::vector<std::string> seen;
  Tree_ZkReplica replica(Options(), znode, [&](const std::vector<Tree_ZkChange>& changes) {
    for (const Tree_ZkChange& change : changes) {
      seen.push_back((change.kind == Tree_ZkChange::Kind::kAdded     ? "+ "
                      : change.kind == Tree_ZkChange::Kind::kRemoved ? "- "
                                                                     : "~ ") +
                     change.path);
    }
  });
  ASSERT_TRUE(replica.Start());
  const auto node_at = [&](const char* path) {
    const auto lock = replica.Lock();
    return replica.Tree()->GetRelativeNode(path, replica.Tree()).get();
  };
  Tree_Node* const c = node_at("srv\\c");
  Tree_Node* const d = node_at("srv\\d");

  ASSERT_TRUE(Tree_ZkStore(Options()).Remove(znode, "srv\\a"));
  EXPECT_TRUE(Eventually([&] { return node_at("srv\\a") == nullptr; }));
  ASSERT_TRUE(Tree_ZkStore(Options()).Push(tree_of({"b", "x", "c", "d"}), znode));
  EXPECT_TRUE(Eventually([&] { return node_at("srv\\x") != nullptr; }));
  const auto lock = replica.Lock();
  EXPECT_EQ((std::vector<std::string>{"- cfg\\srv\\a", "+ cfg\\srv\\x"}), seen);
  EXPECT_EQ(c, node_at("srv\\c"));
  EXPECT_EQ(d, node_at("srv\\d"));
}

TEST(ZkReplica, CatchesUpAfterTheServerRestarts) {
  const std::string znode = Znode();
  ASSERT_TRUE(Tree_ZkStore(Options()).Push(SmallTree("80"), znode));
  Tree_ZkReplica replica(Options(), znode);
  ASSERT_TRUE(replica.Start());
  Server("stop");
  EXPECT_TRUE(Eventually([&] { return !replica.IsCurrent(); }));
  Server("start");
  ASSERT_TRUE(Tree_ZkStore(Options()).Set(znode, "srv\\port", "90"));
  ASSERT_TRUE(Tree_ZkStore(Options()).Set(znode, "srv\\extra", "new"));
  EXPECT_TRUE(Eventually([&] { return ValueAt(replica, "srv\\extra") == "new/1"; }));
  EXPECT_EQ("90/1", ValueAt(replica, "srv\\port"));
  EXPECT_TRUE(replica.WaitUntilCurrent(10000));
  Tree_NodePtr pulled;
  ASSERT_TRUE(Tree_ZkStore(Options()).Pull(znode, pulled));
  const auto lock = replica.Lock();
  EXPECT_EQ(Dump(pulled), Dump(replica.Tree()));
}
