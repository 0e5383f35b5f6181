// A merge that keeps a document's shape, as users of JSON merge tools expect, unlike the
// library's Tree_Node::Merge, which moves every merged branch to the end of its parent.
#pragma once

#include "Tree/Tree_Node.h"

struct ShapeMerge {
  // A new tree: a deep copy of `second` (DuplicateFromHereDown) into which `first` is merged.
  // Children are matched by name, the k-th child of a name in `first` with the k-th of that
  // name in `second`. The result keeps `second`'s children in their order; a child of
  // `first` without a partner is copied and appended after them, in `first`'s order. Two
  // partners that are both branches and neither an array are merged in place, at every depth
  // (at the tops' children only with `one_level`); otherwise `second`'s node wins whole, so
  // an array is merged as one value. Walks with an explicit stack: depth costs no native
  // stack. Both inputs must hold a node.
  static Tree_NodePtr Merge(const Tree_NodePtr& first, const Tree_NodePtr& second, bool one_level);
};
