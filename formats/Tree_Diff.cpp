#include "formats/Tree_Diff.h"

#include <unordered_map>
#include <vector>

#include "formats/Tree_Text.h"

namespace {

struct Pair {
  Tree_Node* a;
  Tree_Node* b;
  std::string path;
};

std::string ChildPath(const std::string& parent, const Tree_Node& child) {
  std::string path = parent;
  if (!path.empty()) path += '\\';
  path += child.KeyName().view();
  return path;
}

std::optional<std::string_view> ValueOf(const Tree_Node& node) {
  const Tree_Value* value = node.TreeValue();
  if (value == nullptr) return std::nullopt;
  return value->Value().view();
}

void AppendValueOrNone(std::optional<std::string_view> value, std::string& out) {
  if (value) {
    Tree_Text::AppendValue(*value, out);
  } else {
    out += "(none)";
  }
}

// One line per node of the subtree under `top`, in pre-order.
void AppendSubtree(char mark, Tree_Node& top, const std::string& top_path, std::string& out) {
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
      pending.push_back({child, ChildPath(frame.path, *child)});
    }
  }
}

// Pairs the children of `a` and `b` by name; pairs with equal cached checksums are dropped.
// Children without a partner are reported at once.
void MatchChildren(const Pair& pair, std::vector<Pair>& pending, std::string& out) {
  Tree_Node& a = *pair.a;
  Tree_Node& b = *pair.b;
  const int a_count = a.GetChildCount();
  const int b_count = b.GetChildCount();
  std::vector<Pair> matched;
  const auto keep = [&](Tree_Node* x, Tree_Node* y) {
    if (x->GetChecksum(nullptr, true) != y->GetChecksum(nullptr, true)) {
      matched.push_back({x, y, ChildPath(pair.path, *x)});
    }
  };
  bool aligned = a_count == b_count;
  for (int index = 0; aligned && index < a_count; ++index) {
    aligned = a.GetChildAt(index)->KeyName() == b.GetChildAt(index)->KeyName();
  }
  if (aligned) {
    for (int index = 0; index < a_count; ++index)
      keep(a.GetChildAt(index).get(), b.GetChildAt(index).get());
  } else {
    std::unordered_map<std::string_view, std::vector<int>> b_by_name;
    for (int index = b_count - 1; index >= 0; --index) {
      b_by_name[b.GetChildAt(index)->KeyName().view()].push_back(index);
    }
    std::vector<bool> b_used(static_cast<std::size_t>(b_count), false);
    for (int index = 0; index < a_count; ++index) {
      Tree_Node* child = a.GetChildAt(index).get();
      auto found = b_by_name.find(child->KeyName().view());
      if (found == b_by_name.end() || found->second.empty()) {
        AppendSubtree('-', *child, ChildPath(pair.path, *child), out);
        continue;
      }
      const int partner = found->second.back();
      found->second.pop_back();
      b_used[static_cast<std::size_t>(partner)] = true;
      keep(child, b.GetChildAt(partner).get());
    }
    for (int index = 0; index < b_count; ++index) {
      if (b_used[static_cast<std::size_t>(index)]) continue;
      Tree_Node* child = b.GetChildAt(index).get();
      AppendSubtree('+', *child, ChildPath(pair.path, *child), out);
    }
  }
  for (auto it = matched.rbegin(); it != matched.rend(); ++it) pending.push_back(std::move(*it));
}

}  // namespace

std::string Tree_Diff::Lines(Tree_Node& a, Tree_Node& b) {
  a.GetChecksum();
  b.GetChecksum();
  std::string out;
  std::vector<Pair> pending{{&a, &b, std::string()}};
  while (!pending.empty()) {
    Pair pair = std::move(pending.back());
    pending.pop_back();
    const std::optional<std::string_view> before = ValueOf(*pair.a);
    const std::optional<std::string_view> after = ValueOf(*pair.b);
    if (before != after) AppendChangeLine(pair.path, before, after, out);
    MatchChildren(pair, pending, out);
  }
  return out;
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
