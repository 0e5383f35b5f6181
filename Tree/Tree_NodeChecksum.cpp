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

// The up to eight bytes at `bytes` (`length` <= 8) as one number, the first byte lowest and
// zeros above `length`. Reads nothing outside the range: from four bytes on, two overlapping
// four-byte loads; below, the first, middle and last byte.
inline std::uint64_t LoadShort(const char* bytes, std::size_t length) {
  if (length >= 4) {
    std::uint32_t head;
    std::uint32_t tail;
    std::memcpy(&head, bytes, 4);
    std::memcpy(&tail, bytes + length - 4, 4);
    return head | static_cast<std::uint64_t>(tail) << (8 * (length - 4));
  }
  if (length == 0) return 0;
  const auto byte = [&](std::size_t i) {
    return static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
  };
  return byte(0) | byte(length / 2) | byte(length - 1);
}

// Whether any of the low `length` bytes of `word` (1 <= length <= 8) is NUL. The bytes above
// `length` are set first, so only the loaded ones count; the test has no false positives.
inline bool HasNul(std::uint64_t word, std::size_t length) {
  if (length < 8) word |= ~std::uint64_t{0} << (8 * length);
  return ((word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull) != 0;
}

// The first eight bytes of `name` (padded with zeros) as a big-endian number: names whose
// numbers differ are in the order of their numbers, in byte order, a proper prefix first.
inline std::uint64_t NamePrefix(std::string_view name) {
  std::uint64_t word;
  if (name.size() >= 8) {
    std::memcpy(&word, name.data(), 8);
  } else {
    word = LoadShort(name.data(), name.size());
  }
  return std::endian::native == std::endian::little ? __builtin_bswap64(word) : word;
}

// The up to sixteen bytes at `bytes` (`length` <= 16) as one number, the first byte lowest and
// zeros above `length`, into `out`; nothing outside the range is read. False when they hold
// a NUL byte.
inline bool LoadUpTo16(const char* bytes, std::size_t length, unsigned __int128& out) {
  std::uint64_t low;
  std::uint64_t high = 0;
  if (length > 8) {
    std::memcpy(&low, bytes, 8);
    high = LoadShort(bytes + 8, length - 8);
    if (HasNul(low, 8) || HasNul(high, length - 8)) return false;
  } else {
    low = LoadShort(bytes, length);
    if (length != 0 && HasNul(low, length)) return false;
  }
  out = static_cast<unsigned __int128>(high) << 64 | low;
  return true;
}

// The register after the `length` bytes of `bytes` (1 <= length <= 16, first byte lowest)
// from `crc`: one or two table steps.
inline std::uint32_t FeedUpTo16(std::uint32_t crc, unsigned __int128 bytes, std::size_t length) {
  const auto low = static_cast<std::uint64_t>(bytes);
  if (length < 8) return Qor_CRC::PartialStep(crc, low, static_cast<unsigned>(length));
  crc = Qor_CRC::EightStep(crc, low);
  if (length == 8) return crc;
  return Qor_CRC::PartialStep(crc, static_cast<std::uint64_t>(bytes >> 64),
                              static_cast<unsigned>(length - 8));
}

// The register after " name value" from `crc`, when name and value hold no NUL byte and each
// is at most fifteen bytes: the bytes are joined in registers, with no store and reload
// between them, and fed in one piece when they are at most sixteen, else " name" and
// " value" apart. False, and `crc` untouched, otherwise.
inline bool FeedShortTail(std::uint32_t& crc, std::string_view name, std::string_view value) {
  if (name.size() > 15 || value.size() > 15) return false;
  unsigned __int128 name_bytes;
  unsigned __int128 value_bytes;
  if (!LoadUpTo16(name.data(), name.size(), name_bytes) ||
      !LoadUpTo16(value.data(), value.size(), value_bytes))
    return false;
  // No shift below reaches 128 bits: each piece is at most sixteen bytes.
  const unsigned __int128 blank_name = ' ' | name_bytes << 8;
  const unsigned __int128 blank_value = ' ' | value_bytes << 8;
  const std::size_t length = name.size() + value.size() + 2;
  if (length <= 16) {
    crc = FeedUpTo16(crc, blank_name | blank_value << (8 * (name.size() + 1)), length);
  } else {
    crc = FeedUpTo16(FeedUpTo16(crc, blank_name, name.size() + 1), blank_value, value.size() + 1);
  }
  return true;
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
  // One frame per node being computed. In index order its children are read from its own
  // children vector as the frame reaches them. Sorted, they sit in `children` from
  // `first_child` on while the frame is on top; frames nest, so the children of the open
  // frames form a stack as well.
  struct Frame {
    Tree_Node* node;
    const char* children_pattern;  // what the pattern asks of the children, or null
    Qor_CRC crc;
    int child_count;  // taken once, when the frame opens
    int next_child;
    std::size_t first_child;
  };
  std::vector<Frame> frames;
  std::vector<Tree_Node*> children;
  struct SortEntry {
    std::uint64_t prefix;
    Tree_Node* node;
  };
  std::vector<SortEntry> sorting;  // the children of the frame being opened, while sorted
  std::string long_tail;  // the tail of a node whose name and value do not fit `short_tail`

  // Feeds " name value" and stores the result: name and value end at their first NUL byte,
  // if they hold one. A short tail without NUL bytes is fed from registers; any other is
  // assembled in one piece first.
  const auto finish = [&](Tree_Node* node, Qor_CRC& crc) {
    const std::string_view name = node->m_key_name.view();
    const std::string_view value =
        node->m_tree_value != nullptr ? node->m_tree_value->Value().view() : std::string_view();
    std::uint32_t crc_register = crc.m_register;
    if (FeedShortTail(crc_register, name, value)) {
      crc.m_register = crc_register;
      node->m_checksum = static_cast<unsigned int>(crc.Finish());
      node->m_checksum_valid = true;
      return;
    }
    const std::string_view name_part = UpToNul(node->m_key_name);
    const std::string_view value_part =
        node->m_tree_value != nullptr ? UpToNul(node->m_tree_value->Value()) : std::string_view("");
    const std::size_t length = name_part.size() + value_part.size() + 2;
    char short_tail[128];
    char* tail = short_tail;
    if (length > sizeof short_tail) {
      long_tail.resize(length);
      tail = long_tail.data();
    }
    tail[0] = ' ';
    std::memcpy(tail + 1, name_part.data(), name_part.size());
    tail[name_part.size() + 1] = ' ';
    std::memcpy(tail + name_part.size() + 2, value_part.data(), value_part.size());
    crc.AddBytes(tail, length);
    node->m_checksum = static_cast<unsigned int>(crc.Finish());
    node->m_checksum_valid = true;
  };

  // Computes a childless node at once; opens a frame for any other, unless its cached value
  // stands or the pattern leaves it out (checksum 0, which its parent folds as nothing).
  const auto open = [&](Tree_Node* node, const char* node_pattern) {
    if (node->m_checksum_valid) return;
    const char* rest = nullptr;  // a null pattern leaves nothing out, here or below
    if (node_pattern != nullptr && IsPathHit(node_pattern, node->m_key_name.data(), rest)) {
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
    if (ignore_order) {
      // Siblings share their parent's path, so path order is the byte order of key names;
      // the stable sort keeps equal names in index order. Each name's first eight bytes,
      // as a big-endian number padded with zeros, order names as their bytes do unless two
      // are equal, so the whole names are compared only then.
      sorting.clear();
      for (int i = 0; i < child_count; ++i) {
        Tree_Node* const child = node->ChildHandle(i).get();
        sorting.push_back(SortEntry{NamePrefix(child->m_key_name.view()), child});
      }
      std::stable_sort(sorting.begin(), sorting.end(), [](const SortEntry& a, const SortEntry& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        return a.node->m_key_name.compareTo(b.node->m_key_name) < 0;
      });
      for (const SortEntry& entry : sorting) children.push_back(entry.node);
    }
    frames.push_back(Frame{node, rest, Qor_CRC(), child_count, 0, first});
  };

  // The child of `frame` at `index` in visiting order.
  const auto child_at = [&](const Frame& frame, int index) {
    return ignore_order ? children[frame.first_child + static_cast<std::size_t>(index)]
                        : frame.node->ChildHandle(index).get();
  };

  open(this, pattern);
  while (!frames.empty()) {
    Frame& frame = frames.back();
    const int count = frame.child_count;
    bool opened = false;
    while (frame.next_child < count) {
      // The walk waits on memory, not on the CRC: what the children to come will read is
      // fetched in three stages, so that each fetch finds the one it depends on done. Their
      // stored handles (which give their addresses) far ahead, their names and value
      // pointers nearer, their values nearest.
      const int index = frame.next_child;
      constexpr int kHandleAhead = 24;
      constexpr int kNodeAhead = 12;
      constexpr int kValueAhead = 6;
      if (!ignore_order && index + kHandleAhead < count)
        __builtin_prefetch(&frame.node->ChildHandle(index + kHandleAhead));
      if (index + kNodeAhead < count) __builtin_prefetch(child_at(frame, index + kNodeAhead));
      if (index + kValueAhead < count) {
        if (const Tree_Value* value = child_at(frame, index + kValueAhead)->m_tree_value.get())
          __builtin_prefetch(value);
      }
      Tree_Node* const child = child_at(frame, index);
      if (!child->m_checksum_valid) {
        const std::size_t depth = frames.size();
        open(child, frame.children_pattern);
        if (frames.size() != depth) {  // folded once the child's frame closes
          opened = true;
          break;
        }
      }
      FoldChecksum(frame.crc, child->m_checksum);
      ++frame.next_child;
    }
    if (opened) continue;
    finish(frame.node, frame.crc);
    children.resize(frame.first_child);
    frames.pop_back();
  }
}
