// Id vectors, whole and partial, and the big-endian byte block written from them. The walks
// keep their own stacks: pre-order, children in index order, ids handed out as records are
// appended, so a record's id is its index.
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "Tree/TreeLog.h"
#include "Tree/Tree_Node.h"

namespace {

// Appends a fresh default record to `vec`, which owns it from then on, and returns it.
Tree_IdNodeInfo* AppendRecord(Tree_IdNodeVec* vec) {
  auto record = std::make_unique<Tree_IdNodeInfo>();
  vec->insert(record.get());
  return record.release();
}

constexpr char kSerializeName[] =
    "GetSerializeIdNodeInfoVec(RWTPtrOrderedVector<Tree_IdNodeInfo> * vec,int & size_of_ret)";

}  // namespace

// ---- Records and whole-subtree vectors ------------------------------------------------------

void Tree_Node::FillIdNode(Tree_IdNodeInfo& info, const Tree_NodePtr& node, bool with_value,
                           int parent_id, int id) {
  info.SetPath(node->m_key_name);
  info.SetParentId(parent_id);
  info.SetId(id);
  info.SetCRC(node->m_checksum);
  info.SetNodeComplete(node->m_single_node_complete);
  if (!with_value) return;
  if (const Tree_Value* value = node->GetTreeValue(); value != nullptr) {
    info.SetIsChange(value->IsChange());
    info.SetValue(value->Value());
  }
}

void Tree_Node::FillIdVecFromTree(const Tree_NodePtr& node, Tree_IdNodeVec* vec, int& last_id,
                                  int parent_id) {
  // A frame per branch whose children are being listed; it holds a handle, so the branch
  // stays alive while it is visited.
  struct Frame {
    Tree_NodePtr node;
    int id;
    int child_count;
    int next_child;
  };
  FillIdNode(*AppendRecord(vec), node, false, parent_id, ++last_id);
  std::vector<Frame> frames;
  frames.push_back(Frame{node, last_id, node->GetChildCount(), 0});
  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.next_child >= frame.child_count) {
      frames.pop_back();
      continue;
    }
    Tree_NodePtr child = frame.node->ChildHandle(frame.next_child++);
    // Value leaves are listed with their values; branches are entered.
    const bool is_leaf = child->m_allows_children == 0;
    FillIdNode(*AppendRecord(vec), child, is_leaf, frame.id, ++last_id);
    if (is_leaf) continue;
    const int child_count = child->GetChildCount();
    frames.push_back(Frame{std::move(child), last_id, child_count, 0});
  }
}

Tree_IdNodeVec* Tree_Node::GetIdNodeVecFromTree(const Tree_NodePtr& tree) {
  TREE_LOG(7, "Start %s\n", "GetIdNodeVecFromTree(Tree_NodePtr & tree)");
  if (tree.get() == nullptr) {
    TREE_LOG(3, "GetIdNodeVecFromTree(Tree_NodePtr & tree) : tree is NULL, return NULL\n");
    return nullptr;
  }
  Tree_OwnedIdNodeVec vec(new Tree_IdNodeVec(static_cast<std::size_t>(tree->GetNodeNum())));
  int last_id = -1;
  FillIdVecFromTree(tree, vec.get(), last_id, -1);
  return vec.release();
}

// ---- Partial vectors ------------------------------------------------------------------------

void Tree_Node::FillPartialIdVecFromTree(const Tree_NodePtr& node, Tree_IdNodeVec* vec,
                                         int& last_id, int parent_id, int depth_left, int max_sons,
                                         RWCString stop_path, bool is_top) {
  // A frame per branch whose children are being listed. The stop path of its children is a
  // tail of `stop_path`, which outlives the walk.
  struct Frame {
    Tree_NodePtr node;
    int id;
    int child_count;
    int next_child;
    int depth_left;
    std::string_view children_stop_path;
  };
  std::vector<Frame> frames;
  const std::string_view separator_view = separator.view();

  // Lists `at`, then opens a frame for its children when the limits admit them; otherwise
  // marks its record incomplete.
  const auto enter = [&](Tree_NodePtr at, int parent, int depth, std::string_view stop, bool top) {
    if (depth < 0) return;
    std::string_view children_stop;
    if (!stop.empty()) {
      const std::string_view name = at->m_key_name.view();
      const std::size_t cut = stop.find(separator_view);
      if (stop == name) {
        depth = 0;
      } else if (cut != std::string_view::npos && stop.substr(0, cut) == name) {
        children_stop = stop.substr(cut + separator_view.size());
      }
    }
    Tree_IdNodeInfo* const listed = AppendRecord(vec);
    FillIdNode(*listed, at, false, parent, ++last_id);

    const int child_count = at->GetChildCount();
    if (child_count > max_sons && !top) {
      TREE_LOG(7, "Expansion stop for path %s\n", at->GetPath().data());
      listed->SetNodeComplete(false);
      return;
    }
    if (depth == 0) {
      listed->SetNodeComplete(false);
      return;
    }
    frames.push_back(Frame{std::move(at), last_id, child_count, 0, depth, children_stop});
  };

  enter(node, parent_id, depth_left, stop_path.view(), is_top);
  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.next_child >= frame.child_count) {
      frames.pop_back();
      continue;
    }
    Tree_NodePtr child = frame.node->ChildHandle(frame.next_child++);
    if (child->m_allows_children == 0) {
      FillIdNode(*AppendRecord(vec), child, true, frame.id, ++last_id);
      continue;
    }
    // `enter` may grow `frames`, so the values it needs are taken out of the frame first.
    const int parent = frame.id;
    const int depth = frame.depth_left - 1;
    const std::string_view stop = frame.children_stop_path;
    enter(std::move(child), parent, depth, stop, false);
  }
}

Tree_IdNodeVec* Tree_Node::GetPartialIdNodeVecFromTree(const Tree_NodePtr& tree, int depth_left,
                                                       int max_sons, const RWCString& stop_path) {
  TREE_LOG(7, "Start GetPartialIdNodeVecFromTree\n");
  if (tree.get() == nullptr) {
    TREE_LOG(3,
             "GetPartialIdNodeVecFromTree(Tree_NodePtr & tree, int depth_left, int max_sons, "
             "RWCString & stop_path) : tree is NULL, return NULL\n");
    return nullptr;
  }
  Tree_OwnedIdNodeVec vec(new Tree_IdNodeVec);
  int last_id = -1;
  FillPartialIdVecFromTree(tree, vec.get(), last_id, -1, depth_left, max_sons, stop_path, true);
  return vec.release();
}

// ---- The byte block ---------------------------------------------------------------------------

int Tree_Node::GetInfoVecLen(Tree_IdNodeVec* vec, RWCString virtual_parent_path, bool full_info) {
  if (vec == nullptr) return 0;
  long long total = full_info ? 4 + static_cast<long long>(virtual_parent_path.length()) : 0;
  for (const Tree_IdNodeInfo* record : *vec) {
    const auto value_length = static_cast<long long>(record->GetValue().length());
    total += 16 + static_cast<long long>(record->GetPath().length()) + value_length;
    if (value_length > 0) total += 4;
    if (full_info) total += 8;
    if (total > INT_MAX) return -1;
  }
  return total > INT_MAX ? -1 : static_cast<int>(total);
}

void Tree_Node::WriteIntToChar(int* value, char* buf, int offset) {
  const auto bits = static_cast<std::uint32_t>(*value);
  buf[offset] = static_cast<char>(bits >> 24);
  buf[offset + 1] = static_cast<char>(bits >> 16);
  buf[offset + 2] = static_cast<char>(bits >> 8);
  buf[offset + 3] = static_cast<char>(bits);
}

char* Tree_Node::GetSerializeIdNodeInfoVec(Tree_IdNodeVec* vec, int& size_of_ret,
                                           RWCString virtual_parent_path, bool full_info) {
  if (vec == nullptr) {
    TREE_LOG(3, "%s : vec parameter is NULL, return NULL\n", kSerializeName);
    return nullptr;
  }
  const Tree_OwnedIdNodeVec owned(vec);  // consumed on every path from here on
  const int size = GetInfoVecLen(vec, virtual_parent_path, full_info);
  if (size < 0) {
    TREE_LOG(3, "%s : the block would exceed 2147483647 bytes, return NULL\n", kSerializeName);
    return nullptr;
  }
  size_of_ret = size;
  // One byte more than the block, as hosts have always received it; that byte is not written.
  auto block = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(size) + 1);
  char* const out = block.get();
  int position = 0;
  const auto write_int = [&](int value) {
    WriteIntToChar(&value, out, position);
    position += 4;
  };
  const auto write_bytes = [&](const RWCString& text) {
    if (text.length() != 0) std::memcpy(out + position, text.data(), text.length());
    position += static_cast<int>(text.length());
  };

  if (full_info) {
    const int length = static_cast<int>(virtual_parent_path.length());
    TREE_LOG(6, "Write virtual parent path len <%d>\n", length);
    write_int(length);
    write_bytes(virtual_parent_path);
    TREE_LOG(6, "Write virtual parent path <%s>\n", virtual_parent_path.data());
  }
  for (const Tree_IdNodeInfo* record : *vec) {
    TREE_LOG(6, "Write id <%d>\n", record->GetId());
    write_int(record->GetId());
    TREE_LOG(6, "Write p_id <%d>\n", record->GetParentId());
    write_int(record->GetParentId());
    if (full_info) {
      TREE_LOG(6, "Write CRC <%u>\n", record->GetCRC());
      write_int(static_cast<int>(record->GetCRC()));
      const int complete = record->GetIsSingleNodeComplete() ? 1 : 0;
      TREE_LOG(6, "Write SingleNodeComplete <%d>\n", complete);
      write_int(complete);
    }
    const RWCString& path = record->GetPath();
    TREE_LOG(6, "Write path len <%d>\n", static_cast<int>(path.length()));
    write_int(static_cast<int>(path.length()));
    write_bytes(path);
    TREE_LOG(6, "Write path <%s>\n", path.data());
    const RWCString& value = record->GetValue();
    TREE_LOG(6, "Write val_len  <%d>\n", static_cast<int>(value.length()));
    write_int(static_cast<int>(value.length()));
    if (value.length() > 0) {
      TREE_LOG(6, "Write val <%s>\n", value.data());
      write_bytes(value);
      TREE_LOG(6, "Write is change <%d>\n", record->IsChange());
      write_int(record->IsChange());
    }
  }
  return block.release();
}
