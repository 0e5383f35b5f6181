// Cutting a tree into chunks. A push cuts a whole tree; an edit cuts the part of a stored tree
// it decoded, the rest standing as references to chunks it did not read. Both go through
// the same model and the same rule, so an edit produces the chunks a push of the edited tree
// would (up to where the decoded part ends), and unchanged parts keep their ids.
//
// The rule: a node whose entry, children inline, fits in the target size stays whole. A
// larger node's children are cut into runs, each run a chunk of its own, by a content-defined
// rule: a run ends after a child whose content hash falls under a threshold proportional to
// the child's size (runs of about an eighth of the target on average), or before a child
// that would take it past the target. A reference read from the server stays as it is and
// ends a run. So a changed value changes its own run and the entries above it, and an
// inserted child changes the run it lands in (and at most its neighbour), not the runs after.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "Tree/Tree_Node.h"
#include "formats/Tree_Status.h"
#include "store/Tree_ZkChunk.h"

namespace tree_zk {

struct ModelItem {
  int node = -1;  // index in Model::nodes, or
  int ref = -1;   // index in Model::refs
};

struct ModelNode : NodeFields {
  std::vector<ModelItem> items;
  // Filled in by the cut.
  std::size_t body_size = 0;
  std::uint64_t hash = 0;
  std::uint64_t node_count = 0;
};

struct ModelRef : RefView {
  int chunk = -1;  // a run made by the cut: index in CutResult::chunks, id set once written
};

// A tree, or the decoded part of one. Views point into strings the caller keeps alive (the
// tree's nodes, chunk bytes, or `strings`).
struct Model {
  std::vector<ModelNode> nodes;
  std::vector<ModelRef> refs;
  std::deque<std::string> strings;
  int root = -1;

  std::string_view Keep(std::string text) {
    strings.push_back(std::move(text));
    return strings.back();
  }
};

struct Chunk {
  ChunkId id{};
  std::string bytes;
};

struct CutResult {
  std::vector<Chunk> chunks;  // every chunk of the model, the root chunk last
  std::uint64_t node_count = 0;
};

// Appends the subtree under `tree` to `model` (views into the tree's strings) and makes it
// the root. Uses an explicit stack.
void ModelFromTree(Tree_Node* tree, Model& model);

// Cuts `model` into chunks of about `target_bytes`, none larger than `limit_bytes`. Fails with
// kTooLarge, naming the node, when one node's entry alone (its value, or its run references)
// exceeds the limit.
Tree_Status Cut(Model& model, std::size_t target_bytes, std::size_t limit_bytes, CutResult& result);

}  // namespace tree_zk
