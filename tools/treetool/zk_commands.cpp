// zk push/pull/set/rm/watch: trees kept in a ZooKeeper server (see store/Tree_ZkStore.h).
#include <cstdio>
#include <memory>

#include "formats/Tree_Diff.h"
#include "store/Tree_ZkStore.h"
#include "tool.h"

namespace {

struct ZkArgs {
  Tree_ZkOptions options;
  std::string file;
  std::string znode;
  std::string path;
  std::string value;
  std::string out;
  int count = 0;
};

void Check(const Tree_ZkResult& result) {
  if (!result) throw ToolFailure(kExitBadInput, result.message);
}

// A replica names nodes by their full path; diff lines name them below the top node.
std::string BelowTop(const std::string& path) {
  const std::size_t separator = path.find('\\');
  return separator == std::string::npos ? std::string() : path.substr(separator + 1);
}

void AppendChange(const Tree_ZkChange& change, std::string& out) {
  const auto value = [](bool has, const std::string& text) {
    return has ? std::optional<std::string_view>(text) : std::nullopt;
  };
  const std::string path = BelowTop(change.path);
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

void Watch(const ZkArgs& args) {
  int seen = 0;
  Check(tree_zk::Watch(args.options, args.znode,
                       [&](const Tree_NodePtr&, const std::vector<Tree_ZkChange>& changes) {
                         std::string out;
                         for (const Tree_ZkChange& change : changes) {
                           AppendChange(change, out);
                           ++seen;
                         }
                         std::fputs(out.c_str(), stdout);
                         std::fflush(stdout);
                         return args.count <= 0 || seen < args.count;
                       }));
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
  zk->add_option(
      "--auth", args->options.auth,
      "USER:PASSWORD for digest authentication; pushed znodes are then writable by it only");

  CLI::App* push =
      zk->add_subcommand("push", "write the tree in FILE under ZNODE, replacing what is there");
  push->add_option("FILE", args->file, "the tree: .json, .tree or - for standard input")
      ->required();
  push->add_option("ZNODE", args->znode, "the znode that points at the tree, e.g. /config/billing")
      ->required();
  push->callback(
      [args] { Check(tree_zk::Push(args->options, LoadTree(args->file), args->znode)); });

  CLI::App* pull = zk->add_subcommand("pull", "print the tree under ZNODE (text unless --to json)");
  pull->add_option("ZNODE", args->znode, "the znode that points at the tree")->required();
  pull->add_option("-o,--output", args->out, "write the tree to OUT (default: standard output)");
  pull->callback([args] {
    Tree_NodePtr tree;
    Check(tree_zk::Pull(args->options, args->znode, tree));
    WriteTree(tree, args->out);
  });

  CLI::App* set = zk->add_subcommand("set", "set one value in place, creating what is missing");
  set->add_option("ZNODE", args->znode, "the znode that points at the tree")->required();
  set->add_option("PATH", args->path, "backslash path below the top node")->required();
  set->add_option("VALUE", args->value, "the new value")->required();
  set->callback(
      [args] { Check(tree_zk::Set(args->options, args->znode, args->path, args->value)); });

  CLI::App* remove = zk->add_subcommand("rm", "remove one subtree in place");
  remove->add_option("ZNODE", args->znode, "the znode that points at the tree")->required();
  remove->add_option("PATH", args->path, "backslash path below the top node")->required();
  remove->callback([args] { Check(tree_zk::Remove(args->options, args->znode, args->path)); });

  CLI::App* watch =
      zk->add_subcommand("watch", "print each change to the tree under ZNODE as diff lines");
  watch->add_option("ZNODE", args->znode, "the znode that points at the tree")->required();
  watch->add_option("--count", args->count, "stop after N changes (default: never)");
  watch->callback([args] { Watch(*args); });
}
