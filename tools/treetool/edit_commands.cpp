// set, delete, merge, changes, prune, copy, convert: each writes the resulting tree.
#include <memory>

#include "tool.h"

namespace {

struct EditArgs {
  std::string file;
  std::string second;
  std::string path;
  std::string value;
  std::string out;
  bool one_level = false;
};

// The parent path and the last name of `path`.
std::pair<std::string, std::string> SplitLast(const std::string& path) {
  const std::size_t separator = path.rfind('\\');
  if (separator == std::string::npos) return {std::string(), path};
  return {path.substr(0, separator), path.substr(separator + 1)};
}

void Set(const EditArgs& args) {
  Tree_NodePtr root = LoadTree(args.file);
  if (args.path.empty()) throw ToolFailure(kExitUsage, "set needs a PATH below the top node");
  const auto [parent_path, name] = SplitLast(args.path);
  if (!Tree_Node::IsKeptKeyName(name)) {
    throw ToolFailure(kExitUsage, "\"" + args.path + "\" ends in a name a node cannot have");
  }
  Tree_NodePtr node = root->GetRelativeNode(RWCString(args.path), root);
  if (node == nullptr) {
    Tree_NodePtr parent =
        parent_path.empty() ? root : root->GetOrCreateRelativeNode(RWCString(parent_path), root);
    if (parent->IsLeaf() || (parent != root && parent->GetParent() == nullptr)) {
      throw ToolFailure(kExitBadInput, args.file + ": cannot create \"" + args.path +
                                           "\": a node on the way holds a value and no children");
    }
    parent->Add(
        Tree_NodePtr(new Tree_Node(RWCString(name), new Tree_Value(RWCString(args.value), 1))));
  } else if (Tree_Value* value = node->TreeValue()) {
    value->SetValue(RWCString(args.value));
    value->SetIsChange(1);
  } else {
    delete node->SetTreeValue(new Tree_Value(RWCString(args.value), 1));
  }
  WriteTree(root, args.out);
}

void Delete(const EditArgs& args) {
  Tree_NodePtr root = LoadTree(args.file);
  if (args.path.empty()) throw ToolFailure(kExitUsage, "delete needs a PATH below the top node");
  Tree_NodePtr node = FindNode(root, args.file, args.path);
  // Empty path elements name the node reached so far, so "\\" names the top node too.
  if (node->GetParent() == nullptr)
    throw ToolFailure(kExitUsage, "delete cannot remove the top node");
  node->GetParent()->Remove(node);
  WriteTree(root, args.out);
}

void Merge(const EditArgs& args) {
  Tree_NodePtr first = LoadTree(args.file);
  Tree_NodePtr second = LoadTree(args.second);
  WriteTree(
      args.one_level ? Tree_Node::MergeOneLevel(first, second) : Tree_Node::Merge(first, second),
      args.out);
}

void Changes(const EditArgs& args) {
  Tree_NodePtr changes = Tree_Node::GetChangesTreeNode(LoadTree(args.file));
  if (changes != nullptr) WriteTree(changes, args.out);
}

void Prune(const EditArgs& args) {
  Tree_NodePtr root = LoadTree(args.file);
  root->RemoveEmptyBranches();
  WriteTree(root, args.out);
}

void Copy(const EditArgs& args) {
  WriteTree(LoadTree(args.file)->DuplicateFromHereDown(), args.out);
}

void Convert(const EditArgs& args) {
  if (Options().to.empty()) throw ToolFailure(kExitUsage, "convert needs --to json or --to text");
  WriteTree(LoadTree(args.file), args.out);
}

void AddOut(CLI::App* sub, EditArgs& args) {
  sub->add_option("-o,--output", args.out, "write the result to OUT (default: standard output)");
}

}  // namespace

void AddEditCommands(CLI::App& app) {
  auto args = std::make_shared<EditArgs>();
  CLI::App* set = AddFileCommand(
      app, "set", "set the value at PATH, creating what is missing; marks it changed", args, Set);
  set->add_option("PATH", args->path, "backslash path below the top node")->required();
  set->add_option("VALUE", args->value, "the new value")->required();
  AddOut(set, *args);
  CLI::App* remove = AddFileCommand(app, "delete", "remove the subtree at PATH", args, Delete);
  remove->add_option("PATH", args->path, "backslash path below the top node")->required();
  AddOut(remove, *args);
  CLI::App* merge = AddFileCommand(
      app, "merge", "merge FILE into SECOND; SECOND wins every conflict", args, Merge);
  merge->add_option("SECOND", args->second, "the tree that wins")->required();
  merge->add_flag("--one-level", args->one_level, "merge the top nodes' children only");
  AddOut(merge, *args);
  AddOut(
      AddFileCommand(app, "changes", "write the tree of changed values (nothing when none changed)",
                     args, Changes),
      *args);
  AddOut(AddFileCommand(app, "prune", "remove every branch that leads to no value", args, Prune),
         *args);
  AddOut(AddFileCommand(app, "copy", "write a deep copy (values held by branches are not copied)",
                        args, Copy),
         *args);
  AddOut(AddFileCommand(app, "convert", "write the tree in the format --to names", args, Convert),
         *args);
}
