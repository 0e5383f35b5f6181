// set, delete, merge, changes, prune, copy, convert: each writes the resulting tree.
#include <memory>
#include <vector>

#include "formats/Tree_JsonMapping.h"
#include "shape_merge.h"
#include "tool.h"

namespace {

struct EditArgs {
  std::string file;
  std::string second;
  std::string path;
  std::string value;
  std::string value_file;
  std::string out;
  bool one_level = false;
  bool library_order = false;
  bool force_string = false;
};

[[noreturn]] void RefuseThroughLeaf(const EditArgs& args) {
  throw ToolFailure(kExitBadInput, args.file + ": cannot create \"" + args.path +
                                       "\": a node on the way holds a value and no children");
}

// A new element of an array is its next one: any other name would make it an object.
void RefuseGap(const EditArgs& args, const Tree_Node& root, const Tree_Node& array,
               const std::string& name) {
  char digits[24];
  const std::string_view next =
      Tree_JsonMapping::IndexName(static_cast<std::size_t>(array.GetChildCount()), digits);
  if (name == next) return;
  throw ToolFailure(kExitBadInput,
                    args.file + ": cannot create \"" + args.path + "\": \"" +
                        PathBelow(root, array) + "\" is an array of " + std::string(next) +
                        " elements; a new element must be named " + std::string(next));
}

// Sets the value at PATH. An existing value keeps its JSON type when the new text fits it
// (Tree_JsonMapping::KindAfterSet); a new value, or one that replaces an empty object or
// array, takes the type its text reads as; --string makes it a string either way.
void Set(const EditArgs& args) {
  const std::string text = ValueArgument(args.value, args.value_file);
  Tree_NodePtr root = LoadTree(args.file);
  const std::vector<std::string> names = PathElements(args.path);
  if (names.empty()) throw ToolFailure(kExitUsage, "set needs a PATH below the top node");
  Tree_NodePtr parent = root;
  for (std::size_t at = 0; at < names.size(); ++at) {
    const std::string& name = names[at];
    Tree_NodePtr node = ChildNamed(parent, name);
    if (node == nullptr && !Tree_Node::IsKeptKeyName(name)) {
      throw ToolFailure(kExitUsage, "\"" + args.path + "\" holds the name \"" + name +
                                        "\", which a node cannot have (blank at either end)");
    }
    if (parent->IsLeaf()) RefuseThroughLeaf(args);
    if (node == nullptr && parent->GetKind() == Tree_NodeKind::kArray)
      RefuseGap(args, *root, *parent, name);
    if (at + 1 < names.size()) {
      if (node == nullptr) {
        node = Tree_NodePtr(new Tree_Node(RWCString(name)));
        if (parent->GetKind() != Tree_NodeKind::kUntyped) node->SetKind(Tree_NodeKind::kObject);
        parent->Add(node);
      }
      parent = node;
      continue;
    }
    const RWCString value(text);
    if (node == nullptr || (!node->IsLeaf() && node->IsEmpty() && node->TreeValue() == nullptr)) {
      Tree_NodePtr leaf(new Tree_Node(RWCString(name), new Tree_Value(value, 1)));
      leaf->SetKind(Tree_JsonMapping::KindOfNewValue(text, args.force_string));
      if (node == nullptr) {
        parent->Add(leaf);
      } else {
        const int index = parent->GetIndex(node);
        parent->Remove(index);
        parent->Insert(leaf, index);
      }
    } else if (Tree_Value* held = node->TreeValue(); held != nullptr && node->IsLeaf()) {
      node->SetKind(Tree_JsonMapping::KindAfterSet(node->GetKind(), text, args.force_string));
      held->SetValue(value);
      held->SetIsChange(1);
    } else {
      // A branch with children keeps them and holds the value besides.
      delete node->SetTreeValue(new Tree_Value(value, 1));
    }
  }
  WriteTree(root, args.out);
}

void Delete(const EditArgs& args) {
  Tree_NodePtr root = LoadTree(args.file);
  if (PathElements(args.path).empty())
    throw ToolFailure(kExitUsage, "delete needs a PATH below the top node");
  Tree_NodePtr node = FindNode(root, args.file, args.path);
  Tree_Node* parent = node->GetParent();
  parent->Remove(node);
  Tree_JsonMapping::RenumberElements(*parent);  // the elements after it move up
  WriteTree(root, args.out);
}

void Merge(const EditArgs& args) {
  Tree_NodePtr first = LoadTree(args.file);
  Tree_NodePtr second = LoadTree(args.second);
  if (args.library_order) {
    WriteTree(
        args.one_level ? Tree_Node::MergeOneLevel(first, second) : Tree_Node::Merge(first, second),
        args.out);
  } else {
    WriteTree(ShapeMerge::Merge(first, second, args.one_level), args.out);
  }
}

void Changes(const EditArgs& args) {
  Tree_NodePtr changes = Tree_Node::GetChangesTreeNode(LoadTree(args.file));
  if (changes != nullptr) WriteTree(changes, args.out);
}

void Prune(const EditArgs& args) {
  Tree_NodePtr root = LoadTree(args.file);
  root->RemoveEmptyBranches();
  Tree_JsonMapping::RenumberArrays(*root);  // an array keeps its remaining elements in order
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
  AddCompactOption(sub);
}

}  // namespace

void AddEditCommands(CLI::App& app) {
  auto args = std::make_shared<EditArgs>();
  CLI::App* set = AddFileCommand(
      app, "set", "set the value at PATH, creating what is missing; marks it changed", args, Set);
  set->add_option("PATH", args->path, "backslash path below the top node")->required();
  set->add_option("VALUE", args->value, "the new value");
  set->add_option("--value-file", args->value_file,
                  "take the value from FILE (- for standard input), every byte of it");
  set->add_flag("--string", args->force_string,
                "make the value a JSON string even when it reads as a number, true, false or "
                "null (default: an existing value keeps its type when the text fits it)");
  AddPointerOption(set);
  AddOut(set, *args);
  CLI::App* remove = AddFileCommand(app, "delete", "remove the subtree at PATH", args, Delete);
  remove->add_option("PATH", args->path, "backslash path below the top node")->required();
  AddPointerOption(remove);
  AddOut(remove, *args);
  CLI::App* merge = AddFileCommand(
      app, "merge", "merge FILE into SECOND; SECOND wins every conflict", args, Merge);
  merge->footer(
      "Children are matched by name, the k-th of a name in FILE with the k-th in SECOND.");
  merge->add_option("SECOND", args->second, "the tree that wins")->required();
  merge->add_flag("--one-level", args->one_level, "merge the top nodes' children only");
  merge->add_flag("--library-order", args->library_order,
                  "the library's own order (Tree_Node::Merge): each merged branch moves to the "
                  "end of its parent and arrays merge by index; default: SECOND's order, "
                  "merged branches in place, FILE's new members appended, arrays won whole");
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
