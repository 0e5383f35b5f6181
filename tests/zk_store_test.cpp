// The ZooKeeper store against a real server: ctest starts one with scripts/zk-server.sh (the
// zk_server fixture) and passes its directory in TREE_ZK_DIR; TREE_ZK_CONNECT, when set,
// points the tests at another server instead. Some tests stop and restart the server, so
// ctest runs these tests one at a time.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <latch>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "formats/Tree_Json.h"
#include "store/Tree_ZkChunk.h"
#include "store/Tree_ZkReplica.h"
#include "store/Tree_ZkSession.h"
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

// Sanitizers slow the client and the tree several times over: the large trees shrink there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kBigGroups = 20;
#else
constexpr int kBigGroups = 100;
#endif

// The top, `groups` groups and 999 leaves in each but the first, which has 998: 1,000 nodes a
// group, 100,000 in the default build.
Tree_NodePtr BigTree(int groups = kBigGroups) {
  Tree_NodePtr root = MakeBranch("big");
  for (int i = 0; i < groups; ++i) {
    Tree_NodePtr group = AddBranch(root, "group" + std::to_string(i));
    for (int j = i == 0 ? 1 : 0; j < 999; ++j)
      AddLeaf(group, "key" + std::to_string(j), std::to_string(i * j));
  }
  return root;
}

// Direct access to the server through a session of the store's own, for what no public member
// writes: hostile data, and the listing of a tree's chunks.
class Raw {
 public:
  Raw() : m_session(Options()) { EXPECT_TRUE(m_session.Open()); }
  std::string Get(const std::string& path) {
    std::string data;
    struct Stat stat {};
    EXPECT_EQ(ZOK, m_session.Get(path, false, data, stat)) << path;
    return data;
  }
  void Create(const std::string& path, const std::string& data) {
    const int rc = m_session.Create(path, data, &ZOO_OPEN_ACL_UNSAFE);
    EXPECT_TRUE(rc == ZOK || rc == ZNODEEXISTS) << path << ": " << rc;
  }
  void Set(const std::string& path, const std::string& data) {
    std::vector<zoo_op_t> ops(1);
    zoo_set_op_init(&ops[0], path.c_str(), data.data(), static_cast<int>(data.size()), -1, nullptr);
    ASSERT_EQ(ZOK, m_session.Multi(ops)) << path;
  }
  void Delete(const std::string& path) {
    std::vector<zoo_op_t> ops(1);
    zoo_delete_op_init(&ops[0], path.c_str(), -1);
    ASSERT_EQ(ZOK, m_session.Multi(ops)) << path;
  }
  std::vector<std::string> Chunks(const std::string& znode) {
    std::vector<std::string> names;
    EXPECT_EQ(ZOK, m_session.Children(znode + "/chunks", names));
    std::sort(names.begin(), names.end());
    return names;
  }
  // Deletes the tree of `znode`, chunks first, when there is one.
  void DeleteTree(const std::string& znode) {
    std::vector<std::string> names;
    if (m_session.Children(znode + "/chunks", names) == ZOK) {
      for (const std::string& name : names) Delete(znode + "/chunks/" + name);
      Delete(znode + "/chunks");
    }
    struct Stat stat {};
    if (m_session.Exists(znode, false, stat) == ZOK) Delete(znode);
  }
  // The chunk the pointer of `znode` names as its root.
  std::string RootChunk(const std::string& znode) {
    bool has_tree = false;
    tree_zk::Pointer pointer;
    EXPECT_TRUE(tree_zk::DecodePointer(Get(znode), has_tree, pointer));
    return tree_zk::ChunkName(pointer.root);
  }

 private:
  tree_zk::Session m_session;
};

// Counts MightNeedMove calls, which Tree_Node sends when a child joins or leaves.
struct MoveCounter : Tree_NotifyList::Callback {
  void Notify() override {}
  void MightNeedMove(const Tree_NodePtr& /*node*/) override { ++moves; }
  int moves = 0;
};

// "+ PATH", "- PATH" or "~ PATH": a replica's change as the tests record it.
std::string ChangeLine(const Tree_ZkChange& change) {
  const char* mark = change.kind == Tree_ZkChange::Kind::kAdded     ? "+ "
                     : change.kind == Tree_ZkChange::Kind::kRemoved ? "- "
                                                                    : "~ ";
  return mark + change.path;
}

// Dump without the change flags, which a replica sets for what it applied.
Lines Shape(const Tree_NodePtr& tree) {
  Lines lines = Dump(tree);
  for (std::string& line : lines) {
    if (const std::size_t slash = line.rfind('/'); slash != std::string::npos) line.resize(slash);
  }
  return lines;
}

// The node at `path` in the replica's tree, looked up under its lock.
Tree_Node* NodeAt(Tree_ZkReplica& replica, const char* path) {
  const auto lock = replica.Lock();
  return replica.Tree()->GetRelativeNode(path, replica.Tree()).get();
}

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

// Edits keep an array's children named 0..n-1: a removal renames the elements after it, in
// every run of a wide array, and a new element must be the next index. Objects keep any names.
TEST(ZkStore, EditsOfAnArrayKeepItsElementsNamedByPosition) {
  const std::string znode = Znode();
  std::string wide = "[";
  std::vector<std::string> values;
  for (int i = 0; i < 1000; ++i) {
    values.push_back("v" + std::to_string(i));
    wide += (i > 0 ? ",\"" : "\"") + values.back() + "\"";
  }
  Tree_ZkOptions options = Options();
  options.chunk_bytes = 2048;
  Tree_ZkStore store(options);
  ASSERT_TRUE(store.Push(
      Tree_Json::Read(R"({"l":["a","b","c"],"o":{"0":"x","1":"y"},"w":)" + wide + "]}"), znode));
  Raw raw;
  ASSERT_GT(raw.Chunks(znode).size(), 10u);  // "w" is cut into runs
  const auto json_at = [&](const std::string& path) {
    Tree_NodePtr pulled;
    EXPECT_TRUE(store.Pull(znode, pulled));
    std::string out;
    Tree_JsonWriteOptions compact;
    compact.compact = true;
    EXPECT_TRUE(Tree_Json::Write(pulled->GetRelativeNode(path, pulled), out, compact));
    return out;
  };

  ASSERT_TRUE(store.Remove(znode, "l\\0"));
  ASSERT_TRUE(store.Remove(znode, "o\\0"));
  EXPECT_EQ(R"(["b","c"])", json_at("l"));
  EXPECT_EQ(R"({"1":"y"})", json_at("o"));
  for (const std::string path : {"w\\0", "w\\500"}) {
    ASSERT_TRUE(store.Remove(znode, path));
    values.erase(values.begin() + std::stoi(path.substr(2)));
  }
  std::string expected = "[";
  for (const std::string& value : values)
    expected += (expected.size() > 1 ? ",\"" : "\"") + value + "\"";
  EXPECT_EQ(expected + "]", json_at("w"));

  const std::string pointer = raw.Get(znode);
  for (const char* path : {"l\\3", "l\\x", "l\\02", "l\\5\\k"}) {
    const Tree_Status refused = store.Set(znode, path, "v");
    EXPECT_EQ(Tree_StatusCode::kInvalidInput, refused.Code()) << path;
    EXPECT_EQ("cannot set '" + std::string(path) + "' in " + znode +
                  ": 'root\\l' is an array of 2 elements; a new element must be named 2",
              refused.Message());
  }
  EXPECT_EQ(pointer, raw.Get(znode));  // nothing was written
  ASSERT_TRUE(store.Set(znode, "l\\2", "d"));
  ASSERT_TRUE(store.Set(znode, "l\\3\\k", "1"));
  ASSERT_TRUE(store.Set(znode, "l\\0", "B"));
  ASSERT_TRUE(store.Set(znode, "o\\x", "z"));
  EXPECT_EQ(R"(["B","c","d",{"k":1}])", json_at("l"));
  EXPECT_EQ(R"({"1":"y","x":"z"})", json_at("o"));

  // Given as names, a path may hold a backslash in a name; an empty name is refused.
  ASSERT_TRUE(store.SetByNames(znode, {"o", "a\\b"}, "1"));
  ASSERT_TRUE(store.RemoveByNames(znode, {"o", "1"}));
  EXPECT_EQ(R"({"x":"z","a\\b":1})", json_at("o"));
  EXPECT_EQ(Tree_StatusCode::kInvalidInput, store.SetByNames(znode, {"o", ""}, "1").Code());
  EXPECT_EQ(Tree_StatusCode::kInvalidInput, store.RemoveByNames(znode, {"", "o"}).Code());
  EXPECT_EQ(R"({"x":"z","a\\b":1})", json_at("o"));
}

// A million nodes (a tenth under a sanitizer) in 1,000 groups round-trip exactly.
TEST(ZkStore, MillionNodeTreeRoundTrips) {
  Tree_NodePtr root = BigTree(10 * kBigGroups);
  ASSERT_EQ(10 * kBigGroups * 1000, root->GetNodeNum());
  Tree_ZkStore store(Options());
  const Tree_Status pushed = store.Push(root, Znode());
  ASSERT_TRUE(pushed) << pushed.Message();
  Tree_NodePtr pulled;
  ASSERT_TRUE(store.Pull(Znode(), pulled));
  EXPECT_EQ(10 * kBigGroups * 1000, pulled->GetNodeNum());
  EXPECT_EQ(root->GetChecksum(), pulled->GetChecksum());
  EXPECT_EQ("38", pulled->GetValue("group19\\key2", pulled).str());
  EXPECT_EQ(
      std::to_string((10 * kBigGroups - 1) * 998),
      pulled->GetValue("group" + std::to_string(10 * kBigGroups - 1) + "\\key998", pulled).str());
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
  const std::string refused = "writing the chunks of " + znode + " refused: the ACL of " + znode +
                              "/chunks does not grant it";
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

  // Missing parents are created open, so others may push beside alice's tree; creating a znode
  // below hers is refused naming hers.
  ASSERT_TRUE(alice.Push(SmallTree("1"), znode + "-parents/a/tree"));
  EXPECT_TRUE(anonymous.Push(SmallTree("2"), znode + "-parents/a/other"));
  const Tree_Status below = anonymous.Push(SmallTree("3"), znode + "/below");
  EXPECT_EQ(Tree_StatusCode::kDenied, below.Code());
  EXPECT_EQ("creating " + znode + "/below refused: the ACL of " + znode + " does not grant it",
            below.Message());

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

TEST(ZkStore, TwentyConcurrentSetsOfDifferentKeysAllLand) {
  const std::string znode = Znode();
  ASSERT_TRUE(Tree_ZkStore(Options()).Push(SmallTree("80"), znode));
  constexpr int kWriters = 20;
  Tree_ZkOptions options = Options();
  options.timeout_ms = 20000;  // every writer but one loses each round of the version check
  std::latch ready(kWriters);
  std::vector<Tree_Status> results(kWriters);
  std::vector<std::thread> writers;
  for (int i = 0; i < kWriters; ++i) {
    writers.emplace_back([&, i] {
      Tree_ZkStore store(options);
      Tree_NodePtr ignored;
      const Tree_Status opened = store.Pull(znode, ignored);  // connected before the start
      ready.arrive_and_wait();
      results[i] =
          opened ? store.Set(znode, "keys\\k" + std::to_string(i), std::to_string(i)) : opened;
    });
  }
  for (std::thread& writer : writers) writer.join();
  Tree_NodePtr pulled;
  ASSERT_TRUE(Tree_ZkStore(Options()).Pull(znode, pulled));
  for (int i = 0; i < kWriters; ++i) {
    EXPECT_TRUE(results[i]) << i << ": " << results[i].Message();
    EXPECT_EQ(std::to_string(i), pulled->GetValue("keys\\k" + std::to_string(i), pulled).str());
  }
  EXPECT_EQ("80", pulled->GetValue("srv\\port", pulled).str());
  EXPECT_EQ(kWriters, pulled->GetRelativeNode("keys", pulled)->GetChildCount());
}

TEST(ZkStore, ConcurrentPushIsDetectedAndTheOtherPushWins) {
  const std::string znode = Znode();
  ASSERT_TRUE(Tree_ZkStore(Options()).Push(SmallTree("start"), znode));  // also on a rerun
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
    for (const Tree_ZkChange& change : changes) seen.push_back(ChangeLine(change));
  });
  ASSERT_TRUE(replica.Start());
  const auto node_at = [&](const char* path) { return NodeAt(replica, path); };
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

// One value set in a large tree: the Set writes only the chunks on the value's path and the
// pointer, and a replica reads only those. With the default 256 KB chunks each group (about
// 20 KB) sits whole in a run of the top's children and the top's entry, with references to
// the runs, in the root chunk: the path crosses two chunks.
TEST(ZkReplica, ASetInALargeTreeCostsTheChunksOnItsPath) {
  const std::string znode = Znode();
  Tree_ZkStore store(Options());
  ASSERT_TRUE(store.Push(BigTree(), znode));
  Raw raw;
  const std::vector<std::string> before = raw.Chunks(znode);
  ASSERT_GT(before.size(), 5u);  // the tree is cut, or the bounds below say nothing

  Tree_ZkReplica first(Options(), znode);
  Tree_ZkReplica second(Options(), znode);
  ASSERT_TRUE(first.Start());
  ASSERT_TRUE(second.Start());
  for (int change = 0; change < 3; ++change) {
    // New on every run against the same server, so that the chunks are new too.
    const std::string value =
        std::to_string(std::chrono::system_clock::now().time_since_epoch().count());
    const std::string path = "group" + std::to_string(change * 7 % kBigGroups) + "\\key500";
    const std::uint64_t set_before = store.RequestCount();
    const std::uint64_t first_before = first.RequestCount();
    const std::uint64_t second_before = second.RequestCount();
    const std::vector<std::string> chunks_before = raw.Chunks(znode);
    ASSERT_TRUE(store.Set(znode, path, value));
    // Pointer, two chunks read; two written; the switch.
    EXPECT_LE(store.RequestCount() - set_before, 6u);
    std::vector<std::string> chunks_after = raw.Chunks(znode);
    std::vector<std::string> written;
    std::set_difference(chunks_after.begin(), chunks_after.end(), chunks_before.begin(),
                        chunks_before.end(), std::back_inserter(written));
    EXPECT_LE(written.size(), 2u);
    EXPECT_GE(written.size(), 1u);
    EXPECT_NE(written.end(), std::find(written.begin(), written.end(), raw.RootChunk(znode)));
    for (Tree_ZkReplica* replica : {&first, &second}) {
      EXPECT_TRUE(Eventually([&] { return ValueAt(*replica, path) == value + "/1"; }));
      EXPECT_TRUE(replica->WaitUntilCurrent(10000));
    }
    // The pointer (which sets the watch again) and the chunks it did not hold.
    EXPECT_LE(first.RequestCount() - first_before, 3u);
    EXPECT_LE(second.RequestCount() - second_before, 3u);
  }
}

// One node of 100,000 children (20,000 under a sanitizer) round-trips. An insertion in its
// middle, an appended child and a removal each write O(1) of its chunks (the run the child is
// in, at most a neighbour when the child is a run's boundary, and the root chunk), and a
// replica reads only those: runs are cut where the children's content says so, so the runs
// after an insertion keep their ids.
TEST(ZkReplica, AnEditOfAWideNodeCostsOneOfItsRuns) {
  const std::string znode = Znode();
  const int children = kBigGroups * 1000;
  Tree_NodePtr wide = MakeBranch("wide");
  for (int i = 0; i < children; ++i) AddLeaf(wide, "k" + std::to_string(i), std::to_string(i));
  Tree_ZkStore store(Options());
  ASSERT_TRUE(store.Push(wide, znode));
  Tree_NodePtr pulled;
  ASSERT_TRUE(store.Pull(znode, pulled));
  EXPECT_EQ(Dump(wide), Dump(pulled));
  Raw raw;
  ASSERT_GT(raw.Chunks(znode).size(), 10u);  // the child list is cut into runs

  Tree_ZkReplica replica(Options(), znode);
  ASSERT_TRUE(replica.Start());
  const std::string stamp =
      std::to_string(std::chrono::system_clock::now().time_since_epoch().count());
  const auto chunks_written_by = [&](const std::string& what, const std::function<void()>& edit) {
    SCOPED_TRACE(what);
    const std::vector<std::string> before = raw.Chunks(znode);
    const std::uint64_t replica_before = replica.RequestCount();
    edit();
    const std::vector<std::string> after = raw.Chunks(znode);
    std::vector<std::string> written;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                        std::back_inserter(written));
    EXPECT_GE(written.size(), 1u);
    EXPECT_LE(written.size(), 3u);
    EXPECT_TRUE(replica.WaitUntilCurrent(10000));
    ASSERT_TRUE(store.Pull(znode, pulled));
    const auto lock = replica.Lock();
    EXPECT_EQ(Shape(pulled), Shape(replica.Tree()));
    // The pointer, and the chunks it did not hold: as many as a push writes (on a rerun
    // against the same server some of them may be there already).
    EXPECT_LE(replica.RequestCount() - replica_before, 4u);
  };
  chunks_written_by("an insertion in the middle", [&] {
    // New on every run against the same server, so that its chunks are new too.
    wide->Insert(MakeLeaf("inserted", stamp), children / 2);
    ASSERT_TRUE(store.Push(wide, znode));
  });
  EXPECT_EQ(stamp, pulled->GetChildAt(children / 2)->GetTreeValue()->GetValue().str());
  chunks_written_by("an appended child",
                    [&] { ASSERT_TRUE(store.Set(znode, "appended-" + stamp, "x")); });
  chunks_written_by("a removal",
                    [&] { ASSERT_TRUE(store.Remove(znode, "k" + std::to_string(children / 3))); });
  EXPECT_EQ(static_cast<std::size_t>(children + 1), pulled->GetChildCount());
}

namespace {

// A chunk of one entry in the byte form the store reads (Tree_ZkChunk.h): a leaf "x" = "v",
// or a branch "n" whose children are two references to the chunk `below`, which holds
// `below_nodes` nodes. Shared references are legal (equal subtrees share a chunk), so a
// chain of such chunks declares twice as many nodes at each step.
std::string HostileChunk(const std::string* below = nullptr, std::uint64_t below_nodes = 0) {
  std::string body;
  if (below == nullptr) {
    body = std::string("\x03\x00\x01x\x00\x01v", 7);
  } else {
    body = std::string("\x00\x00\x01n\x02", 5);
    const tree_zk::ChunkId id = tree_zk::HashChunk(*below);
    for (int i = 0; i < 2; ++i) {
      body += '\x01';
      body.append(reinterpret_cast<const char*>(id.data()), id.size());
      tree_zk::PutVarint(body, 1);
      tree_zk::PutVarint(body, below_nodes);
      tree_zk::PutVarint(body, below->size() - 5);
      body += '\x00';
    }
  }
  std::string chunk(tree_zk::kChunkMagic, 4);
  chunk += std::string("\x01\x00", 2);
  tree_zk::PutVarint(chunk, body.size());
  return chunk + body;
}

std::string PointerTo(const std::string& root_bytes, std::uint64_t node_count) {
  tree_zk::Pointer pointer;
  pointer.root = tree_zk::HashChunk(root_bytes);
  pointer.node_count = node_count;
  return tree_zk::EncodePointer(pointer);
}

}  // namespace

// Hostile data in the pointer or the chunks: every reader fails with a clear code and message,
// in bounded time, and a replica keeps its last good tree, backs off (a handful of requests,
// not a busy loop) and follows the next good push.
TEST(ZkReplica, HostileDataFailsClearlyAndTheReplicaKeepsItsLastGoodTree) {
  const std::string znode = Znode();
  const std::string chunks = znode + "/chunks/";
  Tree_ZkOptions small_chunks = Options();
  small_chunks.chunk_bytes = 64;  // several chunks even for a small tree
  Tree_NodePtr good = SmallTree("80");
  for (int i = 0; i < 8; ++i) AddLeaf(good, "key" + std::to_string(i), std::string(20, 'a' + i));
  ASSERT_TRUE(Tree_ZkStore(small_chunks).Push(good, znode));
  Raw raw;
  const std::vector<std::string> held = raw.Chunks(znode);
  ASSERT_GE(held.size(), 3u);
  const std::string good_pointer = raw.Get(znode);
  const std::string good_root = raw.RootChunk(znode);
  const std::string other = held[0] != good_root ? held[0] : held[1];

  Tree_ZkReplica replica(Options(), znode);
  ASSERT_TRUE(replica.Start());

  // Well-formed chunks whose shared references declare 2^31 - 1 nodes in 31 chunks.
  std::string bomb = HostileChunk();
  std::uint64_t bomb_nodes = 1;
  for (int level = 0; level < 30; ++level) {
    raw.Create(chunks + tree_zk::ChunkName(tree_zk::HashChunk(bomb)), bomb);
    bomb = HostileChunk(&bomb, bomb_nodes);
    bomb_nodes = 2 * bomb_nodes + 1;
  }
  raw.Create(chunks + tree_zk::ChunkName(tree_zk::HashChunk(bomb)), bomb);
  const std::string garbage = "not a chunk at all";
  raw.Create(chunks + tree_zk::ChunkName(tree_zk::HashChunk(garbage)), garbage);
  const std::string copied = raw.Get(chunks + other);  // a good chunk under another's name
  raw.Create(chunks + tree_zk::ChunkName(tree_zk::HashChunk("somewhere else")), copied);
  std::string missing_below = HostileChunk(&garbage, 1);  // names a chunk never written
  missing_below = HostileChunk(&missing_below, 3);
  raw.Create(chunks + tree_zk::ChunkName(tree_zk::HashChunk(missing_below)), missing_below);

  struct Case {
    std::string pointer;
    Tree_StatusCode code;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"TZP\x02garbage", Tree_StatusCode::kCorrupt, "holds data that is not a tree pointer"},
      {PointerTo(garbage, 1), Tree_StatusCode::kCorrupt, ": not a tree chunk (bad magic)"},
      {PointerTo("somewhere else", 1), Tree_StatusCode::kCorrupt, "does not match its id"},
      {PointerTo("never written", 1), Tree_StatusCode::kNotFound, "is missing"},
      {PointerTo(missing_below, 7), Tree_StatusCode::kNotFound, "is missing"},
      {PointerTo(bomb, bomb_nodes), Tree_StatusCode::kTooLarge, "more than the limit of"},
      {PointerTo(bomb, 5), Tree_StatusCode::kCorrupt, "the pointer says 5, the chunks hold"},
  };
  // Two seconds on one bad tree, from a good one: the backoff doubles from 50 ms, each read is
  // two requests (the pointer, the chunk).
  raw.Set(znode, PointerTo(garbage, 1));
  ASSERT_TRUE(Eventually([&] { return !replica.IsCurrent(); }));
  const std::uint64_t before = replica.RequestCount();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_LE(replica.RequestCount() - before, 20u);

  Tree_ZkOptions quick = Options();
  quick.timeout_ms = 1000;  // a missing chunk is read again until the timeout
  for (const Case& each : cases) {
    SCOPED_TRACE(each.message);
    raw.Set(znode, each.pointer);
    Tree_NodePtr pulled;
    const auto start = std::chrono::steady_clock::now();
    const Tree_Status status = Tree_ZkStore(quick).Pull(znode, pulled);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(each.code, status.Code()) << status.Message();
    EXPECT_NE(std::string::npos, status.Message().find(each.message)) << status.Message();
    EXPECT_EQ(nullptr, pulled.get());
    // The previous case may have left an error of the same code: wait for this one's.
    EXPECT_TRUE(Eventually([&] {
      const Tree_Status error = replica.LastError();
      return error.Code() == each.code && error.Message().find(each.message) != std::string::npos;
    })) << replica.LastError().Message();
    EXPECT_FALSE(replica.IsCurrent());
    EXPECT_EQ("80/0", ValueAt(replica, "srv\\port"));
    const auto lock = replica.Lock();
    EXPECT_EQ(Dump(good), Dump(replica.Tree()));
  }

  raw.Set(znode, good_pointer);  // the good tree again: the replica had it all along
  ASSERT_TRUE(Tree_ZkStore(Options()).Set(znode, "srv\\port", "81"));
  EXPECT_TRUE(Eventually([&] { return ValueAt(replica, "srv\\port") == "81/1"; }));
  EXPECT_TRUE(replica.WaitUntilCurrent(10000));
  EXPECT_TRUE(replica.LastError());
}

// A replica of a tree cut into many small chunks follows edits inside chunks, insertions,
// removals, reordered and duplicated subtrees: each time it ends equal to the pushed tree,
// checksum included, reports just the nodes that changed, and keeps the nodes of untouched
// chunks.
TEST(ZkReplica, FollowsEditsOfATreeOfManyChunksChangingOnlyWhatDiffers) {
  const std::string znode = Znode();
  Tree_ZkOptions small_chunks = Options();
  small_chunks.chunk_bytes = 128;
  const auto group = [](const std::string& name, int leaves) {
    Tree_NodePtr node = MakeBranch(name);
    for (int j = 0; j < leaves; ++j)
      AddLeaf(node, "k" + std::to_string(j), "value-" + std::to_string(j));
    return node;
  };
  Tree_NodePtr tree = MakeBranch("cfg");
  for (int g = 0; g < 3; ++g) tree->Add(group("g" + std::to_string(g), 30));
  Tree_ZkStore store(small_chunks);
  ASSERT_TRUE(store.Push(tree, znode));
  ASSERT_GT(Raw().Chunks(znode).size(), 10u);

  std::vector<std::string> seen;
  Tree_ZkReplica replica(Options(), znode, [&](const std::vector<Tree_ZkChange>& changes) {
    for (const Tree_ZkChange& change : changes) seen.push_back(ChangeLine(change));
  });
  ASSERT_TRUE(replica.Start());
  const auto node_at = [&](const char* path) { return NodeAt(replica, path); };
  Tree_Node* const untouched = node_at("g2\\k20");
  ASSERT_NE(nullptr, untouched);

  // Pushes `tree` and waits until the replica equals it; returns what the replica reported.
  const auto push = [&](const std::string& step) {
    SCOPED_TRACE(step);
    {
      const auto lock = replica.Lock();
      seen.clear();
    }
    EXPECT_TRUE(store.Push(tree, znode));
    const Lines expected = Shape(tree);
    EXPECT_TRUE(Eventually([&] {
      const auto lock = replica.Lock();
      return Shape(replica.Tree()) == expected;
    }));
    tree->ExecuteOnEntireSubtree([](Tree_Node* node) { node->SetChecksum(0, true, false); });
    const auto lock = replica.Lock();
    EXPECT_EQ(tree->GetChecksum(), replica.Tree()->GetChecksum());
    EXPECT_EQ(untouched, node_at("g2\\k20"));
    return seen;
  };
  delete tree->GetRelativeNode("g1\\k15", tree)->SetTreeValue(new Tree_Value("new", 0));
  EXPECT_EQ((std::vector<std::string>{"~ cfg\\g1\\k15"}), push("a value"));
  EXPECT_EQ("new/1", ValueAt(replica, "g1\\k15"));
  tree->GetChildAt(0)->Insert(Tree_NodePtr(new Tree_Node("k10b", new Tree_Value("b", 0))), 11);
  EXPECT_EQ((std::vector<std::string>{"+ cfg\\g0\\k10b"}), push("an insertion"));
  tree->GetChildAt(2)->Remove(3);
  EXPECT_EQ((std::vector<std::string>{"- cfg\\g2\\k3"}), push("a removal"));
  tree->Add(group("dup", 40));
  tree->Add(group("dup", 40));  // equal subtrees: their chunks are shared
  EXPECT_EQ((std::vector<std::string>{"+ cfg\\dup", "+ cfg\\dup"}), push("two equal groups"));
  const Tree_NodePtr first = tree->GetChildAt(0);
  tree->Remove(0);
  tree->Add(first);  // g0 moves to the end
  push("a reordering");
  tree->Remove(3);
  delete tree->GetRelativeNode("dup\\k39", tree)->SetTreeValue(new Tree_Value("last", 0));
  push("one of the equal groups removed, the other changed");
  ASSERT_TRUE(store.Set(znode, "g2\\k29", "set"));
  EXPECT_TRUE(Eventually([&] { return ValueAt(replica, "g2\\k29") == "set/1"; }));
  EXPECT_TRUE(replica.WaitUntilCurrent(10000));
  Tree_NodePtr pulled;
  ASSERT_TRUE(store.Pull(znode, pulled));
  const auto lock = replica.Lock();
  EXPECT_EQ(Shape(pulled), Shape(replica.Tree()));
  EXPECT_EQ(pulled->GetChecksum(), replica.Tree()->GetChecksum());
}

// The server paused (SIGSTOP) beyond the session timeout and resumed: the replica's session
// expires, it opens a new one and follows the changes made after.
TEST(ZkReplica, FollowsChangesAfterItsSessionExpiredWhileTheServerWasPaused) {
  const std::string znode = Znode();
  ASSERT_TRUE(Tree_ZkStore(Options()).Push(SmallTree("80"), znode));
  Tree_ZkOptions options = Options();
  options.timeout_ms = 1000;  // the server's least session timeout
  LogCapture log(4);
  Tree_ZkReplica replica(options, znode);
  ASSERT_TRUE(replica.Start());
  std::ifstream pid_file(ServerDir() + "/pid");
  pid_t pid = 0;
  pid_file >> pid;
  ASSERT_GT(pid, 0);
  const auto expired = [&] {
    const std::vector<std::string> texts = log.Texts(4);
    return std::any_of(texts.begin(), texts.end(), [&](const std::string& text) {
      return text.find("the session of the replica of " + znode + " expired") != text.npos;
    });
  };
  // On resuming, the server may take the client's reconnection before it expires the session,
  // and then the session lives on: the outage is repeated until it has expired.
  for (int outage = 0; outage < 4 && !expired(); ++outage) {
    {
      struct Resume {
        pid_t pid;
        ~Resume() { kill(pid, SIGCONT); }
      } resume{pid};
      ASSERT_EQ(0, kill(pid, SIGSTOP));
      EXPECT_TRUE(Eventually([&] { return !replica.IsCurrent(); }));
      std::this_thread::sleep_for(std::chrono::seconds(3));  // three timeouts
    }
    EXPECT_TRUE(replica.WaitUntilCurrent(10000));
  }
  ASSERT_TRUE(expired());
  ASSERT_TRUE(Tree_ZkStore(Options()).Set(znode, "srv\\port", "99"));
  EXPECT_TRUE(Eventually([&] { return ValueAt(replica, "srv\\port") == "99/1"; }));
  EXPECT_TRUE(replica.WaitUntilCurrent(10000));
}

// A replica of a znode with no tree yet says so and waits for the first push; the tree deleted
// under it is reported, the last tree kept, and the next push followed.
TEST(ZkReplica, WaitsForAFirstPushAndReportsTheTreeDeleted) {
  const std::string znode = Znode();
  Raw raw;
  raw.DeleteTree(znode);  // left by an earlier run against the same server
  Tree_ZkReplica replica(Options(), znode);
  const Tree_Status started = replica.Start();
  EXPECT_EQ(Tree_StatusCode::kNotFound, started.Code());
  EXPECT_EQ("no tree at " + znode + " yet", started.Message());
  EXPECT_FALSE(replica.IsCurrent());

  ASSERT_TRUE(Tree_ZkStore(Options()).Push(SmallTree("80"), znode));
  EXPECT_TRUE(replica.WaitUntilCurrent(10000));
  EXPECT_TRUE(replica.LastError());
  EXPECT_EQ("80/0", ValueAt(replica, "srv\\port"));

  raw.DeleteTree(znode);
  EXPECT_TRUE(Eventually([&] { return replica.LastError().Code() == Tree_StatusCode::kNotFound; }));
  EXPECT_EQ("no tree at " + znode + " any more (deleted)", replica.LastError().Message());
  EXPECT_FALSE(replica.IsCurrent());
  EXPECT_EQ("80/0", ValueAt(replica, "srv\\port"));

  ASSERT_TRUE(Tree_ZkStore(Options()).Push(SmallTree("81"), znode));
  EXPECT_TRUE(Eventually([&] { return ValueAt(replica, "srv\\port") == "81/1"; }));
  EXPECT_TRUE(replica.WaitUntilCurrent(10000));
  EXPECT_TRUE(replica.LastError());
}

namespace {

// Version `version` of a tree of 20 groups of 50 leaves: push i changed the leaf
// g(i % 20)\k(i % 50) to i (100 pushes touch 100 different leaves), and the top's "version"
// says which push it is.
Tree_NodePtr Version(int version) {
  int values[20][50] = {};
  for (int i = 1; i <= version; ++i) values[i % 20][i % 50] = i;
  Tree_NodePtr root = MakeBranch("cfg");
  AddLeaf(root, "version", std::to_string(version));
  for (int g = 0; g < 20; ++g) {
    Tree_NodePtr group = AddBranch(root, "g" + std::to_string(g));
    for (int k = 0; k < 50; ++k)
      AddLeaf(group, "k" + std::to_string(k), std::to_string(values[g][k]));
  }
  return root;
}

// The shape of the version the tree `tree` says it is, or nothing when it says none.
Lines ShapeOfItsVersion(const Tree_NodePtr& tree) {
  Tree_NodePtr version = tree->GetRelativeNode("version", tree);
  if (version.get() == nullptr || version->GetTreeValue() == nullptr) return {};
  return Shape(Version(std::stoi(version->GetTreeValue()->GetValue().str())));
}

}  // namespace

// Pushes of one changed value each, in small chunks, for three grace periods and at least 100
// versions, while two threads pull in a loop, two replicas follow, and a third thread collects
// garbage in a loop: every pull succeeds and every tree a reader holds is one complete version;
// no reader ever meets a collected chunk (the grace period, two seconds, covers every root a
// reader may still be reading, even one starved by a loaded machine); garbage is deleted as the
// pushes go; and once the grace period is over, the server holds exactly the chunks of the
// current tree, as many and as large as a fresh push of it.
TEST(ZkStore, GarbageCollectionUnderConcurrentReadersKeepsEveryReadCompleteAndTheStoreBounded) {
  const std::string znode = Znode();
  Tree_ZkOptions writing = Options();
  writing.chunk_bytes = 1024;
  writing.gc_grace_ms = 2000;
  Tree_ZkStore pusher(writing);
  ASSERT_TRUE(pusher.Push(Version(0), znode));
  Tree_ZkOptions reading = Options();
  reading.pipeline_depth = 1;  // one chunk at a time: slow readers, the ones at risk
  LogCapture log(4);

  std::atomic<bool> done{false};
  std::atomic<int> pulls{0};
  std::atomic<int> incomplete{0};
  std::atomic<std::uint64_t> deleted{0};
  std::mutex mutex;
  std::vector<std::string> failures;
  const auto fail = [&](const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    failures.push_back(text);
  };
  std::array<std::unique_ptr<Tree_ZkReplica>, 2> replicas;
  for (std::size_t i = 0; i < replicas.size(); ++i) {
    // Called after each batch of changes, under the tree lock: the tree must be whole.
    const auto check = [&, i](const std::vector<Tree_ZkChange>&) {
      const Tree_NodePtr tree = replicas[i]->Tree();
      if (Shape(tree) != ShapeOfItsVersion(tree)) ++incomplete;
    };
    replicas[i] = std::make_unique<Tree_ZkReplica>(reading, znode, check);
    ASSERT_TRUE(replicas[i]->Start());
  }
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i) {
    threads.emplace_back([&] {
      Tree_ZkStore store(reading);
      while (!done) {
        Tree_NodePtr pulled;
        if (const Tree_Status status = store.Pull(znode, pulled); !status) {
          fail(status.Message());
        } else if (Shape(pulled) != ShapeOfItsVersion(pulled)) {
          ++incomplete;
        }
        ++pulls;
      }
    });
  }
  threads.emplace_back([&] {
    Tree_ZkStore collector(writing);
    while (!done) {
      std::uint64_t count = 0;
      if (const Tree_Status status = collector.CollectGarbage(znode, &count); !status) {
        fail(status.Message());
      }
      deleted += count;
    }
  });
  const auto end =
      std::chrono::steady_clock::now() + 3 * std::chrono::milliseconds(writing.gc_grace_ms);
  int last = 0;
  while (last < 100 || std::chrono::steady_clock::now() < end) {
    ++last;
    const Tree_Status pushed = pusher.Push(Version(last), znode);
    EXPECT_TRUE(pushed) << last << ": " << pushed.Message();
  }
  done = true;
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(std::vector<std::string>{}, failures);
  EXPECT_GT(pulls.load(), 2);
  EXPECT_EQ(0, incomplete.load());
  EXPECT_GT(deleted.load(), 0u);
  for (const std::string& text : log.Texts()) {
    EXPECT_EQ(std::string::npos, text.find("missing")) << text;
  }
  for (const auto& replica : replicas) {
    EXPECT_TRUE(Eventually([&] {
      const auto lock = replica->Lock();
      return Shape(replica->Tree()) == Shape(Version(last));
    }));
    EXPECT_TRUE(replica->LastError()) << replica->LastError().Message();
  }

  Tree_ZkOptions no_grace = writing;
  no_grace.gc_grace_ms = 0;
  ASSERT_TRUE(Tree_ZkStore(no_grace).CollectGarbage(znode));
  ASSERT_TRUE(Tree_ZkStore(no_grace).Push(Version(last), znode + "-fresh"));
  Raw raw;
  const std::vector<std::string> held = raw.Chunks(znode);
  EXPECT_EQ(raw.Chunks(znode + "-fresh"), held);
  EXPECT_GT(held.size(), 20u);
}
