// Subtree checksums: a CRC-32 over the children's checksums, the key name and the value,
// cached in each node. The walk keeps its own stack, so no depth reaches the thread's stack.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "Tree/Tree_Node.h"
#include "host/Qor_CRC.h"

namespace {

// Feeds a child's checksum as one letter per hexadecimal digit, lowest digit first ('A' for
// 0 up to 'P' for 15): 0x1A3 is fed as D, K, B, and 0 feeds nothing. The digits are spread
// to one byte each without a loop, lowest in the first byte.
void FoldChecksum(Qor_CRC& crc, unsigned int checksum) {
  if (checksum == 0) return;
  std::uint64_t spread = checksum;
  spread = (spread | spread << 16) & 0x0000FFFF0000FFFFull;
  spread = (spread | spread << 8) & 0x00FF00FF00FF00FFull;
  spread = (spread | spread << 4) & 0x0F0F0F0F0F0F0F0Full;
  spread += 0x4141414141414141ull;  // 'A' in every byte
  const auto digits = static_cast<std::size_t>((std::bit_width(checksum) + 3) / 4);
  if (digits == 8) {
    crc.AddEightBytes(spread);  // nearly every checksum: one step, no call
    return;
  }
  unsigned char letters[8];
  for (std::size_t i = 0; i < digits; ++i)
    letters[i] = static_cast<unsigned char>(spread >> (8 * i));
  crc.AddBytes(letters, digits);
}

// The bytes of `text` before its first NUL byte: what the checksum reads of a name or value.
std::string_view UpToNul(const RWCString& text) {
  const std::string_view bytes = text.view();
  return bytes.substr(0, bytes.find('\0'));
}

}  // namespace

unsigned long Tree_Node::GetChecksum(const char* pattern, bool cached_only) {
  if (!m_checksum_valid && !cached_only) CalculateChecksum(pattern);
  return m_checksum;
}

unsigned long Tree_Node::GetChecksumIgnoreOrder(const char* pattern, bool cached_only) {
  if (!m_checksum_valid && !cached_only) CalculateChecksumIgnoreOrder(pattern);
  return m_checksum;
}

void Tree_Node::SetChecksum(unsigned int value, bool set_validity, bool validity) {
  m_checksum = value;
  if (set_validity) m_checksum_valid = validity;
}

void Tree_Node::CalculateChecksum(const char* pattern) {
  CalculateChecksumWalk(pattern, false);
}

void Tree_Node::CalculateChecksumIgnoreOrder(const char* pattern) {
  CalculateChecksumWalk(pattern, true);
}

void Tree_Node::CalculateChecksumWalk(const char* pattern, bool ignore_order) {
  // One frame per node being computed. Its children, in visiting order, sit in `children`
  // from `first_child` to the end of the vector while the frame is on top; frames nest, so
  // the children of the open frames form a stack as well.
  struct Frame {
    Tree_Node* node;
    const char* children_pattern;  // what the pattern asks of the children, or null
    Qor_CRC crc;
    std::size_t first_child;
    std::size_t next_child;
  };
  std::vector<Frame> frames;
  std::vector<Tree_Node*> children;
  std::string long_tail;  // the tail of a node whose name and value do not fit `short_tail`

  // Feeds " name value" and stores the result: name and value end at their first NUL byte,
  // if they hold one. Fed in one piece, the few bytes of a leaf go through eight-byte steps.
  const auto finish = [&](Tree_Node* node, Qor_CRC& crc) {
    const std::string_view name = UpToNul(node->m_key_name);
    const std::string_view value =
        node->m_tree_value != nullptr ? UpToNul(node->m_tree_value->Value()) : std::string_view("");
    const std::size_t length = name.size() + value.size() + 2;
    char short_tail[128];
    char* tail = short_tail;
    if (length > sizeof short_tail) {
      long_tail.resize(length);
      tail = long_tail.data();
    }
    tail[0] = ' ';
    std::memcpy(tail + 1, name.data(), name.size());
    tail[name.size() + 1] = ' ';
    std::memcpy(tail + name.size() + 2, value.data(), value.size());
    crc.AddBytes(tail, length);
    node->m_checksum = static_cast<unsigned int>(crc.Finish());
    node->m_checksum_valid = true;
  };

  // Computes a childless node at once; opens a frame for any other, unless its cached value
  // stands or the pattern leaves it out (checksum 0, which its parent folds as nothing).
  const auto open = [&](Tree_Node* node, const char* node_pattern) {
    if (node->m_checksum_valid) return;
    const char* rest = nullptr;
    if (IsPathHit(node_pattern, node->m_key_name.data(), rest)) {
      node->m_checksum = 0;
      node->m_checksum_valid = true;
      return;
    }
    const int child_count = node->GetChildCount();
    if (child_count == 0) {
      Qor_CRC crc;
      finish(node, crc);
      return;
    }
    const std::size_t first = children.size();
    for (int i = 0; i < child_count; ++i) children.push_back(node->ChildHandle(i).get());
    if (ignore_order) {
      // Siblings share their parent's path, so path order is the byte order of key names;
      // the stable sort keeps equal names in index order.
      std::stable_sort(children.begin() + static_cast<std::ptrdiff_t>(first), children.end(),
                       [](const Tree_Node* a, const Tree_Node* b) {
                         return a->m_key_name.compareTo(b->m_key_name) < 0;
                       });
    }
    frames.push_back(Frame{node, rest, Qor_CRC(), first, first});
  };

  open(this, pattern);
  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.next_child < children.size()) {
      Tree_Node* const child = children[frame.next_child];
      if (!child->m_checksum_valid) {
        const std::size_t depth = frames.size();
        open(child, frame.children_pattern);
        if (frames.size() != depth) continue;  // folded once the child's frame closes
      }
      FoldChecksum(frame.crc, child->m_checksum);
      ++frame.next_child;
      continue;
    }
    finish(frame.node, frame.crc);
    children.resize(frame.first_child);
    frames.pop_back();
  }
}
