// show, get, count, list, search, paths: read-only views of one tree.
#include <algorithm>
#include <iostream>
#include <memory>
#include <vector>

#include "formats/Tree_Text.h"
#include "tool.h"

namespace {

struct QueryArgs {
  std::string file;
  std::string path;
  bool cut_root = false;
  bool values = false;
  bool subtrees = false;
};

void Show(const QueryArgs& args) {
  Tree_NodePtr root = LoadTree(args.file);
  std::string out;
  Tree_Text::Write(FindNode(root, args.file, args.path), out);
  WriteOutput("", out);
}

void Get(const QueryArgs& args) {
  Tree_NodePtr root = LoadTree(args.file);
  Tree_NodePtr node = FindNode(root, args.file, args.path);
  const Tree_Value* value = node->TreeValue();
  if (value == nullptr)
    throw ToolFailure(kExitBadInput, args.file + ": \"" + args.path + "\" has no value");
  std::string out(value->Value().view());
  out += '\n';
  WriteOutput("", out);
}

void Count(const QueryArgs& args) {
  Tree_NodePtr root = LoadTree(args.file);
  Tree_NodePtr node = FindNode(root, args.file, args.path);
  int count = node->GetNodeNum();
  if (args.values) count = node->GetValueNum(RWCString(), node);
  if (args.subtrees) count = node->GetSubTreeNum(RWCString(), node);
  WriteOutput("", std::to_string(count) + '\n');
}

void List(const QueryArgs& args) {
  Tree_NodePtr root = LoadTree(args.file);
  Tree_NodePtr node = FindNode(root, args.file, args.path);
  std::string out;
  for (int index = 0; index < node->GetChildCount(); ++index) {
    Tree_Text::WriteLine(*node->GetChildAt(index).get(), 0, out);
  }
  WriteOutput("", out);
}

// True when every name of `names` resolves, one level each, from `node`.
bool Resolves(const Tree_NodePtr& node, const std::vector<std::string>& names) {
  Tree_NodePtr at = node;
  for (const std::string& name : names) {
    at = ChildNamed(at, name);
    if (at == nullptr) return false;
  }
  return true;
}

void Search(const QueryArgs& args) {
  Tree_NodePtr root = LoadTree(args.file);
  const std::vector<std::string> names = PathElements(args.path);
  if (names.empty()) throw ToolFailure(kExitUsage, "search needs a PATH to look for");
  std::string out;
  if (Options().pointer) {
    // Pointers name nodes below the top, so the top's name is never part of a hit.
    std::vector<Tree_NodePtr> open{root};
    while (!open.empty()) {
      Tree_NodePtr node = std::move(open.back());
      open.pop_back();
      if (Resolves(node, names)) {
        Tree_Text::AppendPath(PathBelow(*root.get(), *node.get()), out);
        out += '\n';
      }
      for (int index = node->GetChildCount() - 1; index >= 0; --index) {
        open.push_back(node->GetChildAt(index));
      }
    }
  } else {
    std::unique_ptr<String_Arr> hits(
        root->Search(RWCString(args.path), root, args.cut_root ? 1 : 0));
    for (int index = 0; hits != nullptr && index < hits->GetInsertedNum(); ++index) {
      Tree_Text::AppendPath(hits->GetStr(index), out);
      out += '\n';
    }
  }
  WriteOutput("", out);
}

// One "path = value" line per node holding a value, paths relative to the root, pre-order.
void Paths(const QueryArgs& args) {
  Tree_NodePtr root = LoadTree(args.file);
  struct Frame {
    Tree_Node* node;
    int next;
    std::size_t path_length;
  };
  std::string out;
  std::string path;
  // Paths that do not name their node again: a backslash path cannot say a name holding a
  // backslash, and a line shows a control byte escaped.
  bool backslash = false;
  bool control = false;
  std::vector<Frame> open{{root.get(), 0, 0}};
  const auto emit = [&](const Tree_Node& node) {
    if (const Tree_Value* value = node.TreeValue()) {
      Tree_Text::AppendPath(path, out);
      out += " = ";
      Tree_Text::AppendValue(value->Value().view(), out);
      out += '\n';
    }
  };
  emit(*root.get());
  while (!open.empty()) {
    Frame& frame = open.back();
    if (frame.next == frame.node->GetChildCount()) {
      open.pop_back();
      continue;
    }
    Tree_Node* child = frame.node->GetChildAt(frame.next++).get();
    path.resize(frame.path_length);
    const std::string_view name = child->KeyName().view();
    if (!Options().pointer && name.find('\\') != name.npos) backslash = true;
    if (std::any_of(name.begin(), name.end(),
                    [](unsigned char c) { return c < 0x20 || c == 0x7f; })) {
      control = true;
    }
    AppendPathElement(name, path);
    emit(*child);
    open.push_back({child, 0, path.size()});
  }
  WriteOutput("", out);
  if (backslash) {
    std::cerr << "treetool: " << args.file
              << ": a name holds a backslash, so its path names another node; use --pointer\n";
  }
  if (control) {
    std::cerr << "treetool: " << args.file
              << ": a name holds a control byte, shown escaped: its path is not a PATH argument\n";
  }
}

}  // namespace

void AddQueryCommands(CLI::App& app) {
  auto args = std::make_shared<QueryArgs>();
  const char* path_help = "backslash path below the top node (empty: the top node)";
  CLI::App* show = AddFileCommand(
      app, "show", "print the tree, or the subtree at PATH, in the text format", args, Show);
  show->add_option("PATH", args->path, path_help);
  AddPointerOption(show);
  CLI::App* get = AddFileCommand(app, "get", "print the value of the node at PATH", args, Get);
  get->add_option("PATH", args->path, path_help)->required();
  AddPointerOption(get);
  CLI::App* count =
      AddFileCommand(app, "count", "print the number of nodes of the subtree at PATH", args, Count);
  count->add_option("PATH", args->path, path_help);
  AddPointerOption(count);
  auto* values = count->add_flag("--values", args->values, "count its value children instead");
  count->add_flag("--subtrees", args->subtrees, "count its sub-tree children instead")
      ->excludes(values);
  CLI::App* list = AddFileCommand(
      app, "list", "print the children of the node at PATH, one line each", args, List);
  list->add_option("PATH", args->path, path_help);
  AddPointerOption(list);
  CLI::App* search = AddFileCommand(
      app, "search", "print the path of every node from which PATH resolves", args, Search);
  search->add_option("PATH", args->path, "the relative path to look for")->required();
  search->add_flag("--cut-root", args->cut_root, "leave the top node's name out of each path");
  AddPointerOption(search);
  AddPointerOption(AddFileCommand(app, "paths",
                                  "print \"path = value\" for every node holding a value; each "
                                  "path is a PATH argument that names the node again (with "
                                  "--pointer also where a name holds a backslash)",
                                  args, Paths));
}
