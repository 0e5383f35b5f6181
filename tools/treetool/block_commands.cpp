// checksum, encode, decode: the subtree checksum and the byte block of id records.
#include <climits>
#include <cstdio>
#include <memory>
#include <vector>

#include "formats/Tree_Text.h"
#include "tool.h"

namespace {

struct BlockArgs {
  std::string file;
  std::string path;
  std::string exclude;
  std::string virtual_path;
  std::vector<std::string> partial;
  std::string out;
  bool ignore_order = false;
  bool full = false;
  bool records = false;
};

void Checksum(const BlockArgs& args) {
  Tree_NodePtr root = LoadTree(args.file);
  Tree_NodePtr node = FindNode(root, args.file, args.path);
  CheckLibraryPath(args.exclude, "--exclude");
  const char* pattern = args.exclude.empty() ? nullptr : args.exclude.c_str();
  const unsigned long sum =
      args.ignore_order ? node->GetChecksumIgnoreOrder(pattern) : node->GetChecksum(pattern);
  char text[16];
  std::snprintf(text, sizeof text, "%08lx\n", sum);
  WriteOutput("", text);
}

int ParseCount(const std::string& text, const char* what) {
  std::size_t used = 0;
  int value = 0;
  try {
    value = std::stoi(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size()) {
    throw ToolFailure(kExitUsage, std::string("--partial: ") + what +
                                      " must be an integer, not \"" + text + "\"");
  }
  return value;
}

// Refuses a tree the block would change: its records carry the values of leaves below the
// top node only, so a value held by the top node or by a branch would be lost.
void CheckBlockKeepsValues(const Tree_NodePtr& root, const std::string& file) {
  std::vector<Tree_Node*> pending{root.get()};
  while (!pending.empty()) {
    Tree_Node* node = pending.back();
    pending.pop_back();
    if (node->TreeValue() != nullptr && (node == root.get() || !node->IsLeaf())) {
      const std::string where = node == root.get() ? std::string("the top node")
                                                   : "\"" + PathBelow(*root.get(), *node) + "\"";
      throw ToolFailure(kExitBadInput, file + ": " + where +
                                           " holds a value, which a byte block cannot carry "
                                           "(it carries the values of leaves below the top)");
    }
    for (int i = node->GetChildCount() - 1; i >= 0; --i)
      pending.push_back(node->GetChildAt(i).get());
  }
}

void Encode(const BlockArgs& args) {
  Tree_NodePtr root = LoadTree(args.file);
  CheckBlockKeepsValues(root, args.file);
  root->GetChecksum();  // the records carry each node's checksum
  Tree_IdNodeVec* records = nullptr;
  if (args.partial.empty()) {
    records = Tree_Node::GetIdNodeVecFromTree(root);
  } else {
    if (args.partial.size() < 2 || args.partial.size() > 3) {
      throw ToolFailure(kExitUsage, "--partial takes DEPTH,MAX_SONS[,STOP_PATH]");
    }
    const int depth = ParseCount(args.partial[0], "DEPTH");
    const int max_sons = ParseCount(args.partial[1], "MAX_SONS");
    const std::string stop_path = args.partial.size() == 3 ? args.partial[2] : std::string();
    CheckLibraryPath(stop_path, "--partial STOP_PATH");
    const RWCString stop(stop_path);
    records = Tree_Node::GetPartialIdNodeVecFromTree(root, depth, max_sons, stop);
  }
  int size = 0;
  std::unique_ptr<char[]> block(
      Tree_Node::GetSerializeIdNodeInfoVec(records, size, RWCString(args.virtual_path), args.full));
  if (block == nullptr)
    throw ToolFailure(kExitBadInput, args.file + ": the tree is too large for a block");
  WriteOutput(args.out, std::string_view(block.get(), static_cast<std::size_t>(size)));
}

// Rebuilds the tree of pre-order records: a record with child records is a branch, as is a
// childless one marked incomplete (its children were left out); every other is a leaf.
Tree_NodePtr TreeFromRecords(const Tree_IdNodeVec& records) {
  const std::size_t count = records.entries();
  std::vector<bool> has_children(count, false);
  for (std::size_t index = 1; index < count; ++index) {
    has_children[static_cast<std::size_t>(records[index]->GetParentId())] = true;
  }
  std::vector<Tree_Node*> nodes(count, nullptr);
  Tree_NodePtr top;
  for (std::size_t index = 0; index < count; ++index) {
    const Tree_IdNodeInfo& record = *records[index];
    const bool leaf = index > 0 && !has_children[index] && record.GetIsSingleNodeComplete();
    Tree_NodePtr node(
        leaf ? new Tree_Node(record.GetPath(), new Tree_Value(record.GetValue(), record.IsChange()))
             : new Tree_Node(record.GetPath()));
    if (index == 0) {
      top = node;
    } else {
      nodes[static_cast<std::size_t>(record.GetParentId())]->Add(node);
    }
    if (!record.GetIsSingleNodeComplete()) node->SetSingleNodeComplete(false);
    nodes[index] = node.get();
  }
  return top;
}

void Decode(const BlockArgs& args) {
  std::string bytes;
  Tree_FormatError error;
  if (!Tree_FormatIo::ReadBytes(args.file, bytes, &error))
    throw ToolFailure(kExitBadInput, error.ToString());
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
    throw ToolFailure(kExitBadInput, args.file + ": larger than a block can be");
  }
  RWCString virtual_path;
  int offset = 0;
  Tree_OwnedIdNodeVec records(Tree_Node::GetIdNodeInfoVecFromSerialized(
      bytes.data(), static_cast<int>(bytes.size()), args.full, virtual_path, &offset));
  if (records == nullptr || records->entries() == 0) {
    error.source = args.file;
    error.SetOffset(records == nullptr ? static_cast<std::size_t>(offset) : 0);
    error.message = records == nullptr ? "malformed block" : "the block holds no record";
    throw ToolFailure(kExitBadInput, error.ToString());
  }
  if (!args.records) {
    WriteTree(TreeFromRecords(*records), args.out);
    return;
  }
  std::string out = "# id\tparent\tname\tvalue\tchange\tcrc\tcomplete\n";
  for (std::size_t index = 0; index < records->entries(); ++index) {
    const Tree_IdNodeInfo& record = *(*records)[index];
    // A block carries checksums and completion only when it was written with --full.
    char crc[16] = "-";
    if (args.full) std::snprintf(crc, sizeof crc, "%08x", record.GetCRC());
    out += std::to_string(record.GetId()) + '\t' + std::to_string(record.GetParentId()) + '\t';
    Tree_Text::AppendValue(record.GetPath().view(), out);
    out += '\t';
    Tree_Text::AppendValue(record.GetValue().view(), out);
    out += '\t' + std::to_string(record.IsChange()) + '\t' + crc + '\t' +
           (!args.full                         ? "-"
            : record.GetIsSingleNodeComplete() ? "1"
                                               : "0") +
           '\n';
  }
  WriteOutput(args.out, out);
}

}  // namespace

void AddBlockCommands(CLI::App& app) {
  auto args = std::make_shared<BlockArgs>();
  CLI::App* checksum = AddFileCommand(
      app, "checksum", "print the CRC-32 of the subtree at PATH (8 hex digits)", args, Checksum);
  checksum->add_option("PATH", args->path,
                       "backslash path below the top node (empty: the top node)");
  checksum->add_flag("--ignore-order", args->ignore_order,
                     "take children in name order, not in file order");
  AddPointerOption(checksum);
  checksum->add_option("--exclude", args->exclude,
                       "leave out the node this path names, starting with the subtree's own name");

  CLI::App* encode = AddFileCommand(
      app, "encode", "write the big-endian byte block of the tree's records", args, Encode);
  encode->add_flag("--full", args->full, "start the block with the virtual parent path");
  encode->add_option("--virtual-path", args->virtual_path,
                     "the virtual parent path that --full writes");
  encode
      ->add_option("--partial", args->partial,
                   "DEPTH,MAX_SONS[,STOP_PATH]: levels kept, most children kept, node to stop at")
      ->delimiter(',')
      ->expected(2, 3);
  encode->add_option("-o,--output", args->out, "the block file")->required();

  CLI::App* decode =
      app.add_subcommand("decode", "check a byte block strictly and print its tree or records");
  decode->add_option("BLOCK", args->file, "the block file, or - for standard input")->required();
  decode->add_flag("--full", args->full,
                   "the block starts with a virtual parent path (encode --full)");
  decode->add_flag("--records", args->records,
                   "print the records: id, parent id, name, value, change flag, CRC, completion");
  decode->add_option("-o,--output", args->out,
                     "write the result to OUT (default: standard output)");
  AddExactOption(decode);
  AddCompactOption(decode);
  decode->callback([args] { Decode(*args); });
}
