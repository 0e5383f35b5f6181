// zk push/pull/set/rm/watch: trees kept in a ZooKeeper server (see store/Tree_ZkStore.h).
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>

#include "formats/Tree_Diff.h"
#include "store/Tree_ZkReplica.h"
#include "store/Tree_ZkStore.h"
#include "tool.h"

namespace {

struct ZkArgs {
  Tree_ZkOptions options;
  std::string file;
  std::string znode;
  std::string path;
  std::string value;
  std::string value_file;
  std::string auth_file;
  std::string ready_file;
  std::string out;
  bool force_string = false;
  int count = 0;
};

void Check(const Tree_Status& status) {
  if (!status) throw ToolFailure(ExitStatusFor(status.Code()), status.Message());
}

// The credentials: --auth, else the first line of --auth-file, else $TREE_ZK_AUTH. Never
// printed.
Tree_ZkOptions Resolve(const ZkArgs& args) {
  Tree_ZkOptions options = args.options;
  if (options.auth.empty() && !args.auth_file.empty()) {
    std::ifstream file(args.auth_file);
    if (!file) throw ToolFailure(kExitBadInput, args.auth_file + ": cannot read the credentials");
    std::getline(file, options.auth);
  }
  if (const char* env = std::getenv("TREE_ZK_AUTH"); options.auth.empty() && env != nullptr) {
    options.auth = env;
  }
  return options;
}

void AppendChange(const Tree_ZkChange& change, std::string& out) {
  const auto value = [](bool has, const std::string& text) {
    return has ? std::optional<std::string_view>(text) : std::nullopt;
  };
  std::string path;  // below the top node, as diff lines name nodes
  for (const std::string& name : change.names) AppendPathElement(name, path);
  switch (change.kind) {
    case Tree_ZkChange::Kind::kValue:
      Tree_Diff::AppendChangeLine(path, value(change.had_value, change.old_value),
                                  value(change.has_value, change.new_value), out);
      break;
    case Tree_ZkChange::Kind::kAdded:
      Tree_Diff::AppendNodeLine('+', path, value(change.has_value, change.new_value), out);
      break;
    case Tree_ZkChange::Kind::kRemoved:
      Tree_Diff::AppendNodeLine('-', path, value(change.had_value, change.old_value), out);
      break;
  }
}

// Follows the znode with a replica and prints each batch of changes. A failure of the replica
// (no tree yet, corrupt data, the znode deleted) is printed once on standard error while it
// lasts; the watch goes on.
void Watch(const ZkArgs& args) {
  std::mutex mutex;
  std::condition_variable wake;
  int seen = 0;
  bool done = false;
  bool first = true;
  Tree_ZkReplica replica(Resolve(args), args.znode, [&](const std::vector<Tree_ZkChange>& changes) {
    std::string out;
    for (const Tree_ZkChange& change : changes) AppendChange(change, out);
    std::fputs(out.c_str(), stdout);
    std::fflush(stdout);
    std::lock_guard<std::mutex> lock(mutex);
    seen += static_cast<int>(changes.size());
    if (first && !args.ready_file.empty()) std::ofstream(args.ready_file) << "ready\n";
    first = false;
    if (args.count > 0 && seen >= args.count) done = true;
    wake.notify_all();
  });
  const Tree_Status started = replica.Start();
  if (!started && started.Code() != Tree_StatusCode::kNotFound) Check(started);
  std::string reported;
  std::unique_lock<std::mutex> lock(mutex);
  while (!done) {
    wake.wait_for(lock, std::chrono::milliseconds(200));
    lock.unlock();
    const Tree_Status status = replica.LastError();
    lock.lock();
    const std::string text = status ? std::string() : status.Message();
    if (!text.empty() && text != reported) {
      std::fprintf(
          stderr, "treetool: %s%s\n", text.c_str(),
          status.Code() == Tree_StatusCode::kNotFound && first ? "; waiting for a push" : "");
    }
    reported = text;
  }
}

}  // namespace

void AddZkCommands(CLI::App& app) {
  auto args = std::make_shared<ZkArgs>();
  CLI::App* zk = app.add_subcommand("zk", "keep trees in a ZooKeeper server and follow them");
  zk->require_subcommand(1);
  zk->fallthrough();
  zk->add_option("--connect", args->options.connect, "HOST:PORT[,HOST:PORT...] of the servers")
      ->default_val("127.0.0.1:2181");
  zk->add_option("--timeout", args->options.timeout_ms, "milliseconds to wait for a server")
      ->default_val(5000)
      ->check(CLI::PositiveNumber);
  zk->add_option("--auth", args->options.auth,
                 "USER:PASSWORD for digest authentication (visible to local users: prefer "
                 "--auth-file or $TREE_ZK_AUTH); pushed trees are then writable by it only");
  zk->add_option("--auth-file", args->auth_file, "read USER:PASSWORD from the first line of FILE");

  CLI::App* push =
      zk->add_subcommand("push", "write the tree in FILE under ZNODE, replacing what is there");
  push->add_option("FILE", args->file, "the tree: .json, .tree or - for standard input")
      ->required();
  push->add_option("ZNODE", args->znode, "the znode that points at the tree, e.g. /config/billing")
      ->required();
  push->callback(
      [args] { Check(Tree_ZkStore(Resolve(*args)).Push(LoadTree(args->file), args->znode)); });

  CLI::App* pull = zk->add_subcommand("pull", "print the tree under ZNODE (text unless --to json)");
  pull->add_option("ZNODE", args->znode, "the znode that points at the tree")->required();
  pull->add_option("-o,--output", args->out, "write the tree to OUT (default: standard output)");
  pull->callback([args] {
    Tree_NodePtr tree;
    Check(Tree_ZkStore(Resolve(*args)).Pull(args->znode, tree));
    WriteTree(tree, args->out);
  });

  CLI::App* set = zk->add_subcommand("set", "set one value in place, creating what is missing");
  set->add_option("ZNODE", args->znode, "the znode that points at the tree")->required();
  set->add_option("PATH", args->path, "backslash path below the top node, or a JSON Pointer")
      ->required();
  set->add_option("VALUE", args->value, "the new value");
  set->add_option("--value-file", args->value_file,
                  "take the value from FILE (- for standard input)");
  set->add_flag("--string", args->force_string, "store the value as a string whatever it reads as");
  AddPointerOption(set);
  set->callback([args] {
    const std::vector<std::string> names = PathElements(args->path);  // usage errors first
    const std::string value = ValueArgument(args->value, args->value_file);
    Check(Tree_ZkStore(Resolve(*args)).SetByNames(args->znode, names, value, args->force_string));
  });

  CLI::App* remove = zk->add_subcommand("rm", "remove one subtree in place");
  remove->add_option("ZNODE", args->znode, "the znode that points at the tree")->required();
  remove->add_option("PATH", args->path, "backslash path below the top node, or a JSON Pointer")
      ->required();
  AddPointerOption(remove);
  remove->callback([args] {
    const std::vector<std::string> names = PathElements(args->path);
    Check(Tree_ZkStore(Resolve(*args)).RemoveByNames(args->znode, names));
  });

  CLI::App* gc =
      zk->add_subcommand("gc", "delete the chunks of ZNODE no current or recent tree uses");
  gc->add_option("ZNODE", args->znode, "the znode that points at the tree")->required();
  gc->callback([args] {
    std::uint64_t deleted = 0;
    Check(Tree_ZkStore(Resolve(*args)).CollectGarbage(args->znode, &deleted));
    std::printf("%llu chunks deleted\n", static_cast<unsigned long long>(deleted));
  });

  CLI::App* watch =
      zk->add_subcommand("watch", "print each change to the tree under ZNODE as diff lines");
  watch->add_option("ZNODE", args->znode, "the znode that points at the tree")->required();
  AddPointerOption(watch);
  watch->add_option("--count", args->count, "stop after N changes (default: never)");
  watch->add_option("--ready-file", args->ready_file, "create FILE once the first read is done");
  watch->callback([args] { Watch(*args); });
}
