// Id vectors, whole and partial, and the big-endian byte block written from them. The walks
// keep their own stacks: pre-order, children in index order, ids handed out as records are
// appended, so a record's id is its index.
#include <bit>
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
  // Default-initialised: make_unique's value-initialisation would zero the whole record before
  // its constructor sets every field anyway.
  std::unique_ptr<Tree_IdNodeInfo> record(new Tree_IdNodeInfo);
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

namespace {

// Stores `value` as 4 big-endian bytes at `out`: one store, not four.
inline void StoreBigEndian(char* out, std::uint32_t value) {
  const std::uint32_t bytes =
      std::endian::native == std::endian::little ? __builtin_bswap32(value) : value;
  std::memcpy(out, &bytes, 4);
}

// Copies the `length` bytes at `in` (sizeof(Word) <= length <= 2 * sizeof(Word)) as a head
// and a tail word, which overlap where `length` is less than two words.
template <class Word>
inline void CopyHeadAndTail(char* out, const char* in, std::size_t length) {
  Word head;
  Word tail;
  std::memcpy(&head, in, sizeof(Word));
  std::memcpy(&tail, in + length - sizeof(Word), sizeof(Word));
  std::memcpy(out, &head, sizeof(Word));
  std::memcpy(out + length - sizeof(Word), &tail, sizeof(Word));
}

// Copies `length` bytes. Names and values are mostly a few bytes long, where a call to
// memcpy costs more than the copy; up to 16 bytes take two overlapping loads and stores of a
// fixed size, which read and write nothing outside either range.
inline void CopyBytes(char* out, const char* in, std::size_t length) {
  if (length > 16) {
    std::memcpy(out, in, length);
  } else if (length >= 8) {
    CopyHeadAndTail<std::uint64_t>(out, in, length);
  } else if (length >= 4) {
    CopyHeadAndTail<std::uint32_t>(out, in, length);
  } else if (length > 0) {
    out[0] = in[0];
    out[length / 2] = in[length / 2];
    out[length - 1] = in[length - 1];
  }
}

// Writes the records of `vec` from `out` on and deletes each one once it is written, so
// every record is read once while it is still in the cache. `kTrace` logs every field at
// level 6 as it is written. Returns the end of what was written, which the sizing pass
// (GetInfoVecLen) has made the end of the block.
template <bool kTrace>
char* WriteRecords(Tree_IdNodeVec& vec, char* out, bool full_info) {
  Tree_IdNodeInfo** const records = vec.isEmpty() ? nullptr : &*vec.begin();
  const std::size_t count = vec.entries();
  for (std::size_t i = 0; i < count; ++i) {
    // The record after next is fetched while this one is written.
    if (i + 2 < count) __builtin_prefetch(records[i + 2]);
    Tree_IdNodeInfo* const record = records[i];
    records[i] = nullptr;  // a record deleted below is never reached through the vector again
    if constexpr (kTrace) TREE_LOG(6, "Write id <%d>\n", record->GetId());
    StoreBigEndian(out, static_cast<std::uint32_t>(record->GetId()));
    if constexpr (kTrace) TREE_LOG(6, "Write p_id <%d>\n", record->GetParentId());
    StoreBigEndian(out + 4, static_cast<std::uint32_t>(record->GetParentId()));
    out += 8;
    if (full_info) {
      if constexpr (kTrace) TREE_LOG(6, "Write CRC <%u>\n", record->GetCRC());
      StoreBigEndian(out, record->GetCRC());
      const int complete = record->GetIsSingleNodeComplete() ? 1 : 0;
      if constexpr (kTrace) TREE_LOG(6, "Write SingleNodeComplete <%d>\n", complete);
      StoreBigEndian(out + 4, static_cast<std::uint32_t>(complete));
      out += 8;
    }
    const RWCString& path = record->GetPath();
    const std::size_t path_length = path.length();
    if constexpr (kTrace) TREE_LOG(6, "Write path len <%d>\n", static_cast<int>(path_length));
    StoreBigEndian(out, static_cast<std::uint32_t>(path_length));
    CopyBytes(out + 4, path.data(), path_length);
    out += 4 + path_length;
    if constexpr (kTrace) TREE_LOG(6, "Write path <%s>\n", path.data());
    const RWCString& value = record->GetValue();
    const std::size_t value_length = value.length();
    if constexpr (kTrace) TREE_LOG(6, "Write val_len  <%d>\n", static_cast<int>(value_length));
    StoreBigEndian(out, static_cast<std::uint32_t>(value_length));
    out += 4;
    if (value_length > 0) {
      if constexpr (kTrace) TREE_LOG(6, "Write val <%s>\n", value.data());
      CopyBytes(out, value.data(), value_length);
      out += value_length;
      if constexpr (kTrace) TREE_LOG(6, "Write is change <%d>\n", record->IsChange());
      StoreBigEndian(out, static_cast<std::uint32_t>(record->IsChange()));
      out += 4;
    }
    delete record;
  }
  return out;
}

}  // namespace

void Tree_Node::WriteIntToChar(int* value, char* buf, int offset) {
  StoreBigEndian(buf + offset, static_cast<std::uint32_t>(*value));
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
  char* out = block.get();

  // The level is read once: a block is traced whole or not at all.
  const bool trace = QorGLog.GetMaxLevel() >= 6;
  if (full_info) {
    const auto length = static_cast<std::uint32_t>(virtual_parent_path.length());
    if (trace) TREE_LOG(6, "Write virtual parent path len <%d>\n", static_cast<int>(length));
    StoreBigEndian(out, length);
    if (length != 0) std::memcpy(out + 4, virtual_parent_path.data(), length);
    out += 4 + length;
    if (trace) TREE_LOG(6, "Write virtual parent path <%s>\n", virtual_parent_path.data());
  }
  // The records are deleted as they are written; the vector then holds only nulls, which
  // the owner's release skips.
  if (trace) {
    WriteRecords<true>(*vec, out, full_info);
  } else {
    WriteRecords<false>(*vec, out, full_info);
  }
  // A large vector's records go back to the system, as a destroyed tree's nodes do.
  Tree_NodeAllocator::ReturnFreedMemory();
  return block.release();
}
