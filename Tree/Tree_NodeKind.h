// The kind of document value a node stands for, kept so that a tree read from a typed format
// (JSON) is written back with the same types.
#ifndef TREE_NODE_KIND_H
#define TREE_NODE_KIND_H

// `kUntyped` is what host code makes; every other kind is set by a reader of a typed format.
// The kind is carried by every copy of a node (deep copy, merge, change tree) and is kept by
// SetValue; it takes no part in checksums, records or the byte block.
enum class Tree_NodeKind : unsigned char {
  kUntyped,
  kString,
  kNumber,
  kBoolean,
  kNull,
  kObject,
  kArray,
};

#endif  // TREE_NODE_KIND_H
