#include "formats/Tree_Diff.h"

#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "formats/Tree_JsonMapping.h"
#include "formats/Tree_Text.h"

namespace {

// ---- The content hash ------------------------------------------------------------------

std::uint64_t Mix(std::uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  h ^= h >> 33;
  return h;
}

// Every byte of `bytes`, its length included, so that "ab"+"c" and "a"+"bc" differ.
std::uint64_t HashBytes(std::uint64_t h, std::string_view bytes) {
  h = Mix(h ^ (bytes.size() * 0x9e3779b97f4a7c15ULL));
  std::size_t at = 0;
  for (; at + 8 <= bytes.size(); at += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes.data() + at, 8);
    h = Mix(h ^ word) * 0x9e3779b97f4a7c15ULL;
  }
  std::uint64_t tail = 0;
  if (at < bytes.size()) std::memcpy(&tail, bytes.data() + at, bytes.size() - at);
  return Mix(h ^ tail ^ 0x2545f4914f6cdd1dULL);
}

std::uint64_t OwnHash(const Tree_Node& node) {
  const auto kind = static_cast<std::uint64_t>(Tree_JsonMapping::ExportKind(node));
  std::uint64_t h = HashBytes(kind + 1, node.KeyName().view());
  const Tree_Value* value = node.TreeValue();
  return value == nullptr ? Mix(h) : HashBytes(h + 7, value->Value().view());
}

// The hash of every subtree and its size, indexed by the pre-order number of its top node:
// the children of node i are i+1, then each next one past the size of the one before.
struct TreeHashes {
  std::vector<std::uint64_t> hash;
  std::vector<std::uint32_t> size;
};

TreeHashes HashTree(Tree_Node& top) {
  TreeHashes out;
  struct Frame {
    Tree_Node* node;
    std::size_t index;
    int next;
    std::uint64_t children;
  };
  std::vector<Frame> open;
  const auto enter = [&](Tree_Node* node) {
    open.push_back({node, out.hash.size(), 0, 0});
    out.hash.push_back(OwnHash(*node));
    out.size.push_back(0);
  };
  enter(&top);
  while (!open.empty()) {
    Frame& frame = open.back();
    if (frame.next < frame.node->GetChildCount()) {
      enter(frame.node->GetChildAt(frame.next++).get());
      continue;
    }
    const std::size_t index = frame.index;
    out.hash[index] = Mix(out.hash[index] ^ Mix(frame.children + 0x632be59bd9b4e019ULL));
    out.size[index] = static_cast<std::uint32_t>(out.hash.size() - index);
    open.pop_back();
    if (!open.empty()) {
      open.back().children = Mix(open.back().children * 31 + out.hash[index]);
    }
  }
  return out;
}

// ---- The walk --------------------------------------------------------------------------

struct Side {
  Tree_Node* node;
  std::size_t index;
};

struct Pair {
  Side a;
  Side b;
  std::string path;
};

std::string ChildPath(const std::string& parent, const Tree_Node& child, bool pointer) {
  std::string path = parent;
  Tree_Diff::AppendPathName(child.KeyName().view(), pointer, path);
  return path;
}

std::optional<std::string_view> ValueOf(const Tree_Node& node) {
  const Tree_Value* value = node.TreeValue();
  if (value == nullptr) return std::nullopt;
  return value->Value().view();
}

// The children of `side` with their pre-order numbers.
std::vector<Side> ChildrenOf(const Side& side, const TreeHashes& hashes) {
  std::vector<Side> children;
  const int count = side.node->GetChildCount();
  children.reserve(static_cast<std::size_t>(count));
  std::size_t index = side.index + 1;
  for (int child = 0; child < count; ++child) {
    children.push_back({side.node->GetChildAt(child).get(), index});
    index += hashes.size[index];
  }
  return children;
}

// One line per node of the subtree under `top`, in pre-order.
void AppendSubtree(char mark, Tree_Node& top, const std::string& top_path, bool pointer,
                   std::string& out) {
  struct Frame {
    Tree_Node* node;
    std::string path;
  };
  std::vector<Frame> pending{{&top, top_path}};
  while (!pending.empty()) {
    Frame frame = std::move(pending.back());
    pending.pop_back();
    Tree_Diff::AppendNodeLine(mark, frame.path, ValueOf(*frame.node), out);
    for (int index = frame.node->GetChildCount() - 1; index >= 0; --index) {
      Tree_Node* child = frame.node->GetChildAt(index).get();
      pending.push_back({child, ChildPath(frame.path, *child, pointer)});
    }
  }
}

class Differ {
 public:
  Differ(Tree_Node& a, Tree_Node& b, bool pointer)
      : m_a(HashTree(a)), m_b(HashTree(b)), m_pointer(pointer) {}

  std::string Lines(Tree_Node& a, Tree_Node& b) {
    std::string out;
    std::vector<Pair> pending{{{&a, 0}, {&b, 0}, std::string()}};
    while (!pending.empty()) {
      Pair pair = std::move(pending.back());
      pending.pop_back();
      const Tree_Node& x = *pair.a.node;
      const Tree_Node& y = *pair.b.node;
      const std::optional<std::string_view> before = ValueOf(x);
      const std::optional<std::string_view> after = ValueOf(y);
      const Tree_NodeKind x_kind = Tree_JsonMapping::ExportKind(x);
      const Tree_NodeKind y_kind = Tree_JsonMapping::ExportKind(y);
      if (before != after || x_kind != y_kind) {
        Tree_Diff::AppendChangeLine(pair.path, before, x_kind, after, y_kind, out);
      }
      MatchChildren(pair, pending, out);
    }
    return out;
  }

 private:
  // Pairs the children of both sides by name; pairs of equal hash are dropped. Children
  // without a partner are reported at once.
  void MatchChildren(const Pair& pair, std::vector<Pair>& pending, std::string& out) {
    const std::vector<Side> a = ChildrenOf(pair.a, m_a);
    const std::vector<Side> b = ChildrenOf(pair.b, m_b);
    std::vector<Pair> matched;
    const auto keep = [&](const Side& x, const Side& y) {
      if (m_a.hash[x.index] != m_b.hash[y.index]) {
        matched.push_back({x, y, ChildPath(pair.path, *x.node, m_pointer)});
      }
    };
    bool aligned = a.size() == b.size();
    for (std::size_t index = 0; aligned && index < a.size(); ++index) {
      aligned = a[index].node->KeyName() == b[index].node->KeyName();
    }
    if (aligned) {
      for (std::size_t index = 0; index < a.size(); ++index) keep(a[index], b[index]);
    } else {
      std::unordered_map<std::string_view, std::vector<std::size_t>> b_by_name;
      for (std::size_t index = b.size(); index-- > 0;) {
        b_by_name[b[index].node->KeyName().view()].push_back(index);
      }
      std::vector<bool> b_used(b.size(), false);
      for (const Side& child : a) {
        auto found = b_by_name.find(child.node->KeyName().view());
        if (found == b_by_name.end() || found->second.empty()) {
          AppendSubtree('-', *child.node, ChildPath(pair.path, *child.node, m_pointer), m_pointer,
                        out);
          continue;
        }
        const std::size_t partner = found->second.back();
        found->second.pop_back();
        b_used[partner] = true;
        keep(child, b[partner]);
      }
      for (std::size_t index = 0; index < b.size(); ++index) {
        if (b_used[index]) continue;
        AppendSubtree('+', *b[index].node, ChildPath(pair.path, *b[index].node, m_pointer),
                      m_pointer, out);
      }
    }
    for (auto it = matched.rbegin(); it != matched.rend(); ++it) pending.push_back(std::move(*it));
  }

  TreeHashes m_a;
  TreeHashes m_b;
  bool m_pointer;
};

void AppendValueOrNone(std::optional<std::string_view> value, std::string& out) {
  if (value) {
    Tree_Text::AppendValue(*value, out);
  } else {
    out += "(none)";
  }
}

// A value as a change line shows it when the kinds differ.
std::string KindedValue(std::optional<std::string_view> value, Tree_NodeKind kind) {
  std::string out;
  if (!value) {
    out = kind == Tree_NodeKind::kObject ? "{}" : kind == Tree_NodeKind::kArray ? "[]" : "(none)";
  } else if (kind == Tree_NodeKind::kString) {
    Tree_Text::AppendQuoted(*value, out);
  } else {
    Tree_Text::AppendValue(*value, out);
  }
  return out;
}

}  // namespace

std::string Tree_Diff::Lines(Tree_Node& a, Tree_Node& b, const Tree_DiffOptions& options) {
  return Differ(a, b, options.pointer).Lines(a, b);
}

void Tree_Diff::AppendPathName(std::string_view name, bool pointer, std::string& path) {
  if (!pointer) {
    if (!path.empty()) path += '\\';
    path += name;
    return;
  }
  path += '/';
  for (const char c : name) {
    if (c == '~') {
      path += "~0";
    } else if (c == '/') {
      path += "~1";
    } else {
      path += c;
    }
  }
}

void Tree_Diff::AppendNodeLine(char mark, std::string_view path,
                               std::optional<std::string_view> value, std::string& out) {
  out += mark;
  out += ' ';
  Tree_Text::AppendPath(path, out);
  if (value) {
    out += " = ";
    Tree_Text::AppendValue(*value, out);
  }
  out += '\n';
}

void Tree_Diff::AppendChangeLine(std::string_view path, std::optional<std::string_view> before,
                                 std::optional<std::string_view> after, std::string& out) {
  out += "~ ";
  Tree_Text::AppendPath(path, out);
  out += " = ";
  AppendValueOrNone(before, out);
  out += " -> ";
  AppendValueOrNone(after, out);
  out += '\n';
}

void Tree_Diff::AppendChangeLine(std::string_view path, std::optional<std::string_view> before,
                                 Tree_NodeKind before_kind, std::optional<std::string_view> after,
                                 Tree_NodeKind after_kind, std::string& out) {
  if (before_kind == after_kind) {
    AppendChangeLine(path, before, after, out);
    return;
  }
  std::string old_text = KindedValue(before, before_kind);
  std::string new_text = KindedValue(after, after_kind);
  if (old_text == new_text) {
    old_text += " (" + std::string(Tree_JsonMapping::KindName(before_kind)) + ")";
    new_text += " (" + std::string(Tree_JsonMapping::KindName(after_kind)) + ")";
  }
  out += "~ ";
  Tree_Text::AppendPath(path, out);
  out += " = " + old_text + " -> " + new_text + '\n';
}
