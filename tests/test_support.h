// Shared helpers of the test suites: a log capture, white-box access to Tree_Node, tree
// builders, and flat dumps of trees, id vectors and byte blocks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Tree/Tree_Node.h"
#include "host/Qor_LogFile.h"

// Captures every message up to `level` while it lives, then restores the default sink and
// the previous maximum level.
class LogCapture {
 public:
  explicit LogCapture(int level = 7) : m_previous_level(QorGLog.GetMaxLevel()) {
    QorGLog.SetMaxLevel(level);
    QorGLog.SetSink([this](const Qor_LogRecord& record) {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_records.push_back(record);
    });
  }
  ~LogCapture() {
    QorGLog.SetSink({});
    QorGLog.SetMaxLevel(m_previous_level);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<Qor_LogRecord> Records() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_records;
  }
  // The texts, in order, of the messages at `level` (every level when -1).
  std::vector<std::string> Texts(int level = -1) const {
    std::vector<std::string> texts;
    for (const Qor_LogRecord& record : Records()) {
      if (level < 0 || record.level == level) texts.push_back(record.text);
    }
    return texts;
  }
  bool Has(const std::string& text, int level = -1) const {
    const std::vector<std::string> texts = Texts(level);
    return std::find(texts.begin(), texts.end(), text) != texts.end();
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_records.clear();
  }

 private:
  int m_previous_level;
  mutable std::mutex m_mutex;
  std::vector<Qor_LogRecord> m_records;
};

// Reads (and calls) what the public interface does not expose.
struct Tree_NodeTestAccess {
  static int CompleteSons(const Tree_Node& node) { return node.m_complete_sons; }
  static bool ChecksumValid(const Tree_Node& node) { return node.m_checksum_valid; }
  static bool IsPathHit(const char* path, const char* name, const char*& rest) {
    return Tree_Node::IsPathHit(path, name, rest);
  }
};

// A new branch, held by a new owning handle.
inline Tree_NodePtr MakeBranch(const RWCString& name) {
  return Tree_NodePtr(new Tree_Node(name));
}

// A new leaf with `value` and change flag `is_change`, held by a new owning handle.
inline Tree_NodePtr MakeLeaf(const RWCString& name, const RWCString& value, int is_change = 0) {
  return Tree_NodePtr(new Tree_Node(name, new Tree_Value(value, is_change)));
}

// Appends a branch named `name` to `parent` and returns it.
inline Tree_NodePtr AddBranch(const Tree_NodePtr& parent, const RWCString& name) {
  Tree_NodePtr child = MakeBranch(name);
  parent->Add(child);
  return child;
}

// Appends a leaf to `parent` and returns it.
inline Tree_NodePtr AddLeaf(const Tree_NodePtr& parent, const RWCString& name,
                            const RWCString& value, int is_change = 0) {
  Tree_NodePtr child = MakeLeaf(name, value, is_change);
  parent->Add(child);
  return child;
}

// The key names of the children of `node`, in order.
inline std::vector<std::string> ChildNames(const Tree_NodePtr& node) {
  std::vector<std::string> names;
  for (int i = 0; i < node->GetChildCount(); ++i) {
    names.push_back(node->GetChildAt(i)->GetKeyName().str());
  }
  return names;
}

// A chain of `depth` branches named n, top first, with `bottom` (unless null) under the
// lowest. Built from the bottom up: each Add links a root, so no insertion walks a long
// ancestry.
inline Tree_NodePtr MakeChain(int depth, Tree_NodePtr bottom = Tree_NodePtr()) {
  Tree_NodePtr top = std::move(bottom);
  for (int i = 0; i < depth; ++i) {
    Tree_NodePtr parent = MakeBranch("n");
    if (top.get() != nullptr) parent->Add(top);
    top = std::move(parent);
  }
  return top;
}

// ---- Id vectors and byte blocks ----

using IdVec = Tree_IdNodeVec;

// The 4 big-endian bytes of `value`.
inline std::string BigEndian(std::int64_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  return {static_cast<char>(bits >> 24), static_cast<char>(bits >> 16),
          static_cast<char>(bits >> 8), static_cast<char>(bits)};
}

// A length-prefixed string field.
inline std::string Field(std::string_view bytes) {
  return BigEndian(static_cast<std::int64_t>(bytes.size())) + std::string(bytes);
}

// Writes `vec` (consumed) and returns the block as a string.
inline std::string Encode(IdVec* vec, bool full_info, const RWCString& virtual_parent_path = "") {
  int size = -1;
  std::unique_ptr<char[]> block(
      Tree_Node::GetSerializeIdNodeInfoVec(vec, size, virtual_parent_path, full_info));
  return block == nullptr ? "" : std::string(block.get(), size);
}

// The records of `vec`, which it deletes, as "id:parent:path=value/change", a '*' ending an
// incomplete one, separated by blanks; "null" for a null vector.
inline std::string Dump(IdVec* vec) {
  if (vec == nullptr) return "null";
  const Tree_OwnedIdNodeVec owned(vec);
  std::string text;
  for (const Tree_IdNodeInfo* record : *vec) {
    text += (text.empty() ? "" : " ") + std::to_string(record->GetId()) + ":" +
            std::to_string(record->GetParentId()) + ":" + record->GetPath().str();
    if (!record->GetValue().isNull() || record->IsChange() != 0)
      text += "=" + record->GetValue().str() + "/" + std::to_string(record->IsChange());
    if (!record->GetIsSingleNodeComplete()) text += "*";
  }
  return text;
}

// ---- Tree algebra ----

using Lines = std::vector<std::string>;

// One line per node under `top`, in pre-order: the depth below `top`, the key name, then
// "=text/flag" for a leaf or " [text/flag]" for a branch that holds a value. Note that
// GetTreeValue logs at level 7 for every branch without a value.
inline Lines Dump(const Tree_NodePtr& top) {
  Lines lines;
  std::vector<std::pair<Tree_Node*, int>> pending{{top.get(), 0}};
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    std::string line = std::to_string(depth) + " " + node->GetKeyName().str();
    if (const Tree_Value* value = node->GetTreeValue(); value != nullptr) {
      const std::string text = value->GetValue().str() + "/" + std::to_string(value->IsChange());
      line += node->IsLeaf() != 0 ? "=" + text : " [" + text + "]";
    }
    lines.push_back(std::move(line));
    for (int i = node->GetChildCount() - 1; i >= 0; --i) {
      pending.emplace_back(node->GetChildAt(i).get(), depth + 1);
    }
  }
  return lines;
}

// Counts Notify calls; MightNeedMove is ignored.
struct NotifyCounter : Tree_NotifyList::Callback {
  void Notify() override { ++notified; }
  void MightNeedMove(const Tree_NodePtr& /*node*/) override {}
  int notified = 0;
};
