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

#include "store/Tree_ZkCodec.h"
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

TEST(ZkCodec, DecodersAcceptOnlyWhatTheEncodersWrite) {
  std::uint32_t index = 0;
  std::string name;
  std::string error;
  EXPECT_EQ("0000002aa%2Fb%00%25.", tree_zk::EncodeChildName(42, std::string("a/b\0%.", 6)));
  ASSERT_TRUE(tree_zk::DecodeChildName("0000002aa%2Fb%00%25.", index, name, error));
  EXPECT_EQ(42u, index);
  EXPECT_EQ(std::string("a/b\0%.", 6), name);
  for (const char* bad : {"0000000", "00000000", "0000000ga", "0000002Aa", "00000000a%2f",
                          "00000000%41", "00000000a%2", "00000000a b"}) {
    EXPECT_FALSE(tree_zk::DecodeChildName(bad, index, name, error)) << bad;
  }

  Tree_ZkRecord root;
  root.is_root = root.has_value = true;
  root.checksum = 0xCBF43926;
  root.node_count = 3;
  root.key_name = "cfg";
  root.value = "v";
  root.is_change = -1;
  const std::string block = tree_zk::EncodeRecord(root);
  Tree_ZkRecord read;
  ASSERT_TRUE(tree_zk::DecodeRecord(block.data(), block.size(), read, error));
  EXPECT_EQ(block, tree_zk::EncodeRecord(read));
  EXPECT_EQ(-1, read.is_change);
  // Every prefix that cuts a fixed field fails; only the value may be shortened.
  for (std::size_t size = 0; size < block.size() - root.value.size(); ++size) {
    EXPECT_FALSE(tree_zk::DecodeRecord(block.data(), size, read, error)) << size;
  }
  const std::string branch = tree_zk::EncodeRecord(Tree_ZkRecord());
  EXPECT_TRUE(tree_zk::DecodeRecord(branch.data(), branch.size(), read, error));
  for (const std::string& bad : {branch + "x", std::string("TZ\2\0", 4), std::string("TZ\1\x08", 4),
                                 std::string("TZ\1\2", 4), std::string("XZ\1\0", 4)}) {
    EXPECT_FALSE(tree_zk::DecodeRecord(bad.data(), bad.size(), read, error));
    EXPECT_FALSE(error.empty());
  }

  std::string version;
  EXPECT_TRUE(tree_zk::DecodePointer("v0000000007", 11, version, error));
  EXPECT_EQ("v0000000007", version);
  EXPECT_TRUE(tree_zk::DecodePointer("", 0, version, error));
  EXPECT_EQ("", version);
  EXPECT_FALSE(tree_zk::DecodePointer("v000000007", 10, version, error));
  EXPECT_FALSE(tree_zk::DecodePointer("w0000000007", 11, version, error));
}

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
  ASSERT_TRUE(store.Push(root, Znode())) << store.Push(root, Znode()).message;
  Tree_NodePtr pulled;
  const Tree_ZkResult result = store.Pull(Znode(), pulled);
  ASSERT_TRUE(result) << result.message;
  EXPECT_EQ(Dump(root), Dump(pulled));
  EXPECT_EQ(root->GetChecksum(), pulled->GetChecksum());

  // A second push replaces the first; Set and Remove then change it in place.
  AddLeaf(root, "later", "x");
  ASSERT_TRUE(store.Push(root, Znode()));
  ASSERT_TRUE(store.Set(Znode(), "dup", "changed"));
  ASSERT_TRUE(store.Set(Znode(), "new\\deep\\leaf", "made"));
  ASSERT_TRUE(store.Remove(Znode(), "valued"));
  EXPECT_FALSE(store.Remove(Znode(), "valued\\missing"));
  const Tree_ZkResult through_leaf = store.Set(Znode(), "later\\below", "v");
  EXPECT_FALSE(through_leaf);
  EXPECT_EQ("cannot set 'later\\below' in " + Znode() + ": 'top\\later' is a leaf",
            through_leaf.message);
  ASSERT_TRUE(store.Pull(Znode(), pulled));
  root->Remove("valued");
  delete root->GetChildAt(0)->SetTreeValue(new Tree_Value("changed", 1));
  AddLeaf(AddBranch(AddBranch(root, "new"), "deep"), "leaf", "made", 1);
  EXPECT_EQ(Dump(root), Dump(pulled));

  EXPECT_EQ("no tree at /tree-tests/never-pushed",
            store.Pull("/tree-tests/never-pushed", pulled).message);
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
  const Tree_ZkResult pushed = store.Push(root, Znode());
  ASSERT_TRUE(pushed) << pushed.message;
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
  const Tree_ZkResult oversize = alice.Push(huge, znode + "-huge");
  EXPECT_FALSE(oversize);
  EXPECT_NE(std::string::npos, oversize.message.find("more than the server's limit of 1048575"))
      << oversize.message;
  Tree_NodePtr pulled;
  EXPECT_EQ("no tree at " + znode + "-huge", alice.Pull(znode + "-huge", pulled).message);
  EXPECT_FALSE(alice.Set(znode, "srv\\port", std::string(2 << 20, 'x')));

  Tree_ZkStore anonymous(Options());
  Tree_ZkStore bob(Options("bob:guess"));
  const std::string refused =
      "not authorised to write " + znode + " (its ACL does not grant these credentials)";
  EXPECT_EQ(refused, anonymous.Set(znode, "srv\\port", "1").message);
  EXPECT_EQ(refused, bob.Set(znode, "srv\\port", "1").message);
  EXPECT_EQ(refused, bob.Remove(znode, "srv").message);
  EXPECT_EQ(refused, anonymous.Push(SmallTree("1"), znode).message);

  ASSERT_TRUE(anonymous.Pull(znode, pulled));  // everyone may read
  EXPECT_EQ(Dump(SmallTree("80")), Dump(pulled));
  ASSERT_TRUE(alice.Set(znode, "srv\\port", "81"));
  ASSERT_TRUE(anonymous.Pull(znode, pulled));
  EXPECT_EQ("81", pulled->GetValue("srv\\port", pulled).str());

  Tree_ZkOptions private_options = Options("alice:secret");
  private_options.world_readable = false;
  ASSERT_TRUE(Tree_ZkStore(private_options).Push(SmallTree("80"), znode + "-private"));
  EXPECT_EQ("not authorised to read " + znode + "-private",
            anonymous.Pull(znode + "-private", pulled).message);
}

TEST(ZkStore, UnreachableServerFailsNamingTheAddressAfterTheTimeout) {
  Tree_ZkOptions options;
  options.connect = "127.0.0.1:1";
  options.timeout_ms = 300;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ("cannot reach ZooKeeper at 127.0.0.1:1 within 300 ms",
            tree_zk::Push(options, SmallTree("80"), "/x").message);
  Tree_ZkReplica replica(options, "/x");
  EXPECT_EQ("cannot reach ZooKeeper at 127.0.0.1:1 within 300 ms", replica.Start().message);
  EXPECT_FALSE(replica.IsCurrent());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(ZkStore, ConcurrentPushIsDetectedAndTheOtherPushWins) {
  const std::string znode = Znode();
  Tree_ZkOptions options = Options();
  Tree_ZkResult other;
  options.before_switch = [&] { other = tree_zk::Push(Options(), SmallTree("other"), znode); };
  const Tree_ZkResult mine = Tree_ZkStore(options).Push(SmallTree("mine"), znode);
  ASSERT_TRUE(other) << other.message;
  EXPECT_EQ("concurrent push to " + znode +
                " detected: it changed while this push was written; this push was discarded",
            mine.message);
  Tree_NodePtr pulled;
  ASSERT_TRUE(tree_zk::Pull(Options(), znode, pulled));
  EXPECT_EQ("other", pulled->GetValue("srv\\port", pulled).str());
}

TEST(ZkStore, PushInterruptedByAServerStopLeavesThePreviousTreeComplete) {
  const std::string znode = Znode();
  ASSERT_TRUE(tree_zk::Push(Options(), SmallTree("before"), znode));
  Tree_ZkOptions options = Options();
  options.before_switch = [] { Server("stop"); };
  const Tree_ZkResult interrupted = tree_zk::Push(options, SmallTree("after"), znode);
  Server("start");
  EXPECT_FALSE(interrupted);
  EXPECT_NE(std::string::npos, interrupted.message.find("the previous tree is unchanged"))
      << interrupted.message;
  Tree_NodePtr pulled;
  ASSERT_TRUE(tree_zk::Pull(Options(), znode, pulled));
  EXPECT_EQ(Dump(SmallTree("before")), Dump(pulled));
}

TEST(ZkReplica, TwoReplicasSeeASetThroughOneAndAPushByTheOther) {
  const std::string znode = Znode();
  ASSERT_TRUE(tree_zk::Push(Options(), SmallTree("80"), znode));
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
  ASSERT_TRUE(tree_zk::Push(Options(), tree_of({"a", "b", "c", "d"}), znode));
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

  ASSERT_TRUE(tree_zk::Remove(Options(), znode, "srv\\a"));
  EXPECT_TRUE(Eventually([&] { return node_at("srv\\a") == nullptr; }));
  ASSERT_TRUE(tree_zk::Push(Options(), tree_of({"b", "x", "c", "d"}), znode));
  EXPECT_TRUE(Eventually([&] { return node_at("srv\\x") != nullptr; }));
  const auto lock = replica.Lock();
  EXPECT_EQ((std::vector<std::string>{"- cfg\\srv\\a", "+ cfg\\srv\\x"}), seen);
  EXPECT_EQ(c, node_at("srv\\c"));
  EXPECT_EQ(d, node_at("srv\\d"));
}

TEST(ZkReplica, CatchesUpAfterTheServerRestarts) {
  const std::string znode = Znode();
  ASSERT_TRUE(tree_zk::Push(Options(), SmallTree("80"), znode));
  Tree_ZkReplica replica(Options(), znode);
  ASSERT_TRUE(replica.Start());
  Server("stop");
  EXPECT_TRUE(Eventually([&] { return !replica.IsCurrent(); }));
  Server("start");
  ASSERT_TRUE(tree_zk::Set(Options(), znode, "srv\\port", "90"));
  ASSERT_TRUE(tree_zk::Set(Options(), znode, "srv\\extra", "new"));
  EXPECT_TRUE(Eventually([&] { return ValueAt(replica, "srv\\extra") == "new/1"; }));
  EXPECT_EQ("90/1", ValueAt(replica, "srv\\port"));
  EXPECT_TRUE(replica.WaitUntilCurrent(10000));
  Tree_NodePtr pulled;
  ASSERT_TRUE(tree_zk::Pull(Options(), znode, pulled));
  const auto lock = replica.Lock();
  EXPECT_EQ(Dump(pulled), Dump(replica.Tree()));
}
