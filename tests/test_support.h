// Shared helpers of the test suites: a log capture and white-box access to Tree_Node.
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
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
  // How many messages had exactly this text (at `level`, or at any level when -1).
  int Count(const std::string& text, int level = -1) const {
    const std::vector<std::string> texts = Texts(level);
    return static_cast<int>(std::count(texts.begin(), texts.end(), text));
  }
  bool Has(const std::string& text, int level = -1) const { return Count(text, level) > 0; }
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
  static unsigned int Checksum(const Tree_Node& node) { return node.m_checksum; }
  static void SetSubtreeComplete(Tree_Node& node, bool complete) {
    node.SetSubtreeComplete(complete);
  }
  static bool IsPathHit(const char* path, const char* name, const char*& rest) {
    return Tree_Node::IsPathHit(path, name, rest);
  }
  static int GetInfoVecLen(RWTPtrOrderedVector<Tree_IdNodeInfo>* vec, const RWCString& path,
                           bool full_info) {
    return Tree_Node::GetInfoVecLen(vec, path, full_info);
  }
  static void WriteIntToChar(int value, char* buf, int offset) {
    Tree_Node::WriteIntToChar(&value, buf, offset);
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
