// Cutting models into chunks; the rule is described in Tree_ZkCut.h.
#include "store/Tree_ZkCut.h"

#include <cstring>
#include <utility>

namespace tree_zk {
namespace {

// Names are listed in a reference only while they stay this small, so that a lookup can
// skip runs it does not need without making the parent's chunk large.
constexpr std::size_t kMaxListedNameBytes = 1024;

std::uint64_t Hash64(std::string_view bytes, std::uint64_t seed) {
  std::uint64_t hash = 0xcbf29ce484222325ull ^ seed;
  for (const char byte : bytes) {
    hash ^= static_cast<unsigned char>(byte);
    hash *= 0x100000001b3ull;
  }
  return hash;
}

std::uint64_t Mix(std::uint64_t a, std::uint64_t b) {
  std::uint64_t x = a ^ (b + 0x9e3779b97f4a7c15ull + (a << 6) + (a >> 2));
  x ^= x >> 31;
  x *= 0xbf58476d1ce4e5b9ull;
  x ^= x >> 29;
  return x;
}

std::uint64_t RefHash(const ModelRef& ref) {
  std::uint64_t hash = 0;
  std::memcpy(&hash, ref.id.data(), sizeof hash);
  return hash;
}

std::size_t HeaderSize(const ModelNode& node) {
  std::size_t size = 2 + VarintSize(node.name.size()) + node.name.size();
  if (node.has_value) {
    size += VarintSize(ZigZag(node.change)) + VarintSize(node.value.size()) + node.value.size();
  }
  return size;
}

std::size_t ItemSize(const Model& model, const ModelItem& item) {
  if (item.node >= 0) {
    const ModelNode& node = model.nodes[static_cast<std::size_t>(item.node)];
    return 1 + VarintSize(node.body_size) + node.body_size;
  }
  const ModelRef& ref = model.refs[static_cast<std::size_t>(item.ref)];
  std::size_t size =
      1 + 32 + VarintSize(ref.siblings) + VarintSize(ref.nodes) + VarintSize(ref.bytes) + 1;
  for (const std::string_view name : ref.names) size += VarintSize(name.size()) + name.size();
  return size;
}

std::uint64_t ItemHash(const Model& model, const ModelItem& item) {
  return item.node >= 0 ? model.nodes[static_cast<std::size_t>(item.node)].hash
                        : RefHash(model.refs[static_cast<std::size_t>(item.ref)]);
}

std::uint64_t ItemNodes(const Model& model, const ModelItem& item) {
  return item.node >= 0 ? model.nodes[static_cast<std::size_t>(item.node)].node_count
                        : model.refs[static_cast<std::size_t>(item.ref)].nodes;
}

// Body size, hash and node count of `node` from its items as they stand; returns the body
// size the node would have with its references' entries inline, which decides whether its
// children are cut (the same for a node read back with references as for the node pushed).
std::size_t Measure(Model& model, ModelNode& node) {
  std::size_t size = HeaderSize(node);
  std::size_t inline_size = size;
  std::uint64_t hash = Mix(Hash64(node.name, 1), Hash64(node.value, 2));
  hash = Mix(hash, (node.has_value ? 1u : 0u) | (node.leaf ? 2u : 0u) |
                       static_cast<std::uint64_t>(node.kind) << 2 |
                       static_cast<std::uint64_t>(static_cast<std::uint32_t>(node.change)) << 8);
  std::uint64_t count = 1;
  if (!node.leaf) {
    size += VarintSize(node.items.size());
    inline_size += VarintSize(node.items.size());
    for (const ModelItem& item : node.items) {
      size += ItemSize(model, item);
      inline_size += item.node >= 0 ? ItemSize(model, item)
                                    : model.refs[static_cast<std::size_t>(item.ref)].bytes;
      hash = Mix(hash, ItemHash(model, item));
      count += ItemNodes(model, item);
    }
  }
  node.body_size = size;
  node.hash = hash;
  node.node_count = count;
  return inline_size;
}

void WriteRef(const ModelRef& ref, std::string& out) {
  out.push_back(static_cast<char>(kItemRef));
  out.append(reinterpret_cast<const char*>(ref.id.data()), 32);
  PutVarint(out, ref.siblings);
  PutVarint(out, ref.nodes);
  PutVarint(out, ref.bytes);
  out.push_back(ref.has_names ? 1 : 0);
  for (const std::string_view name : ref.names) {
    PutVarint(out, name.size());
    out.append(name);
  }
}

// Writes `node` as an item (tag and entry), its inline descendants with it.
void WriteNodeItem(const Model& model, int top, std::string& out) {
  struct Frame {
    int node;
    std::size_t next;
  };
  std::vector<Frame> stack{{top, 0}};
  bool opened = false;
  while (!stack.empty()) {
    const ModelNode& node = model.nodes[static_cast<std::size_t>(stack.back().node)];
    if (!opened) {
      out.push_back(static_cast<char>(kItemEntry));
      PutVarint(out, node.body_size);
      out.push_back(
          static_cast<char>((node.has_value ? kFlagValue : 0) | (node.leaf ? kFlagLeaf : 0)));
      out.push_back(static_cast<char>(node.kind));
      PutVarint(out, node.name.size());
      out.append(node.name);
      if (node.has_value) {
        PutVarint(out, ZigZag(node.change));
        PutVarint(out, node.value.size());
        out.append(node.value);
      }
      if (!node.leaf) PutVarint(out, node.items.size());
      opened = true;
    }
    if (node.leaf || stack.back().next == node.items.size()) {
      stack.pop_back();
      continue;
    }
    const ModelItem item = node.items[stack.back().next++];
    if (item.ref >= 0) {
      WriteRef(model.refs[static_cast<std::size_t>(item.ref)], out);
    } else {
      stack.push_back({item.node, 0});
      opened = false;
    }
  }
}

Chunk WriteChunk(const Model& model, const std::vector<int>& entries) {
  Chunk chunk;
  chunk.bytes.assign(kChunkMagic, 4);
  PutVarint(chunk.bytes, entries.size());
  for (const int entry : entries) WriteNodeItem(model, entry, chunk.bytes);
  chunk.id = HashChunk(chunk.bytes);
  return chunk;
}

// Replaces the node items of `node` by references to runs, each written as a chunk.
void CutChildren(Model& model, int node_index, std::size_t target, CutResult& result) {
  std::vector<ModelItem> items = std::move(model.nodes[static_cast<std::size_t>(node_index)].items);
  std::vector<ModelItem> cut;
  std::vector<int> run;
  std::size_t run_size = 0;
  const auto close = [&] {
    if (run.empty()) return;
    ModelRef ref;
    ref.siblings = run.size();
    std::size_t name_bytes = 0;
    for (const int entry : run) {
      const ModelNode& child = model.nodes[static_cast<std::size_t>(entry)];
      ref.nodes += child.node_count;
      name_bytes += child.name.size() + 1;
    }
    ref.has_names = name_bytes <= kMaxListedNameBytes;
    if (ref.has_names) {
      for (const int entry : run)
        ref.names.push_back(model.nodes[static_cast<std::size_t>(entry)].name);
    }
    result.chunks.push_back(WriteChunk(model, run));
    ref.id = result.chunks.back().id;
    ref.bytes = result.chunks.back().bytes.size() - 4 - VarintSize(run.size());
    ref.chunk = static_cast<int>(result.chunks.size()) - 1;
    model.refs.push_back(std::move(ref));
    cut.push_back(ModelItem{-1, static_cast<int>(model.refs.size()) - 1});
    run.clear();
    run_size = 0;
  };
  for (const ModelItem& item : items) {
    if (item.ref >= 0) {
      close();
      cut.push_back(item);
      continue;
    }
    const std::size_t size = ItemSize(model, item);
    if (!run.empty() && run_size + size > target) close();
    run.push_back(item.node);
    run_size += size;
    // The boundary test: a child ends its run with a probability of eight times its share
    // of the target, decided by its content alone.
    const std::uint64_t threshold =
        size * 8 >= target ? ~std::uint64_t{0} : (size * 8 * (~std::uint64_t{0} / target));
    if (Mix(ItemHash(model, item), 0x5eed) <= threshold) close();
  }
  close();
  model.nodes[static_cast<std::size_t>(node_index)].items = std::move(cut);
}

}  // namespace

void ModelFromTree(Tree_Node* tree, Model& model) {
  struct Frame {
    Tree_Node* node;
    int parent;
  };
  std::vector<Frame> stack{{tree, -1}};
  while (!stack.empty()) {
    const Frame frame = stack.back();
    stack.pop_back();
    const int index = static_cast<int>(model.nodes.size());
    model.nodes.emplace_back();
    ModelNode& node = model.nodes.back();
    node.name = frame.node->KeyName().view();
    node.leaf = frame.node->IsLeaf() != 0;
    node.kind = frame.node->GetKind();
    if (const Tree_Value* value = frame.node->GetTreeValue(); value != nullptr) {
      node.has_value = true;
      node.value = value->Value().view();
      node.change = value->IsChange();
    } else if (node.leaf) {
      // A leaf always carries a value in the chunk layout; a valueless leaf reads back as a
      // leaf with an empty value.
      node.has_value = true;
    }
    if (frame.parent >= 0) {
      model.nodes[static_cast<std::size_t>(frame.parent)].items.push_back(ModelItem{index, -1});
    } else {
      model.root = index;
    }
    for (int i = frame.node->GetChildCount(); i-- > 0;) {
      stack.push_back({frame.node->GetChildAt(i).get(), index});
    }
  }
}

Tree_Status Cut(Model& model, std::size_t target_bytes, std::size_t limit_bytes,
                CutResult& result) {
  result = CutResult();
  // Post-order: every node is measured after its children.
  struct Frame {
    int node;
    bool expanded;
  };
  std::vector<Frame> stack{{model.root, false}};
  while (!stack.empty()) {
    const Frame frame = stack.back();
    stack.pop_back();
    ModelNode& node = model.nodes[static_cast<std::size_t>(frame.node)];
    if (!frame.expanded) {
      stack.push_back({frame.node, true});
      for (const ModelItem& item : node.items) {
        if (item.node >= 0) stack.push_back({item.node, false});
      }
      continue;
    }
    const std::size_t inline_size = Measure(model, node);
    if (!node.leaf && inline_size > target_bytes) {
      CutChildren(model, frame.node, target_bytes, result);
      ModelNode& cut_node = model.nodes[static_cast<std::size_t>(frame.node)];
      Measure(model, cut_node);
    }
    const ModelNode& measured = model.nodes[static_cast<std::size_t>(frame.node)];
    if (measured.body_size + 16 > limit_bytes) {
      return Tree_Status(Tree_StatusCode::kTooLarge,
                         "node '" + std::string(measured.name) + "' needs " +
                             std::to_string(measured.body_size) +
                             " bytes in one chunk, more than the server's limit of " +
                             std::to_string(limit_bytes) + " bytes");
    }
  }
  result.chunks.push_back(WriteChunk(model, {model.root}));
  result.node_count = model.nodes[static_cast<std::size_t>(model.root)].node_count;
  return Tree_Status::Ok();
}

}  // namespace tree_zk
