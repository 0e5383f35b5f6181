// Reading and writing trees in files and on the standard streams, in either format.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "Tree/Tree_Node.h"
#include "formats/Tree_FormatError.h"

enum class Tree_Format { kJson, kText };

struct Tree_ReadOptions {
  std::string root_name = "root";  // the top node of a JSON document
  // Called now and then with the bytes and nodes read so far; may be empty.
  std::function<void(std::size_t bytes, std::size_t nodes)> progress;
};

class Tree_FormatIo {
 public:
  // "json" or "text" (also "tree"); nullopt for anything else.
  static std::optional<Tree_Format> FormatFromName(std::string_view name);
  // By extension: ".json" is JSON, ".tree" is text; nullopt for anything else.
  static std::optional<Tree_Format> FormatFromPath(std::string_view path);
  // JSON when the first byte that is not a blank opens an object or an array, else text.
  static Tree_Format Sniff(std::string_view bytes);
  // `given` when set, else the format the extension of `path` names, else Sniff(bytes).
  static Tree_Format Choose(std::optional<Tree_Format> given, std::string_view path,
                            std::string_view bytes);

  // Every byte of the file `path`, or of standard input for "-". False, with the reason in
  // `error`, when it cannot be read.
  static bool ReadBytes(const std::string& path, std::string& bytes, Tree_FormatError* error);
  // Replaces `path` with `bytes` through a temporary file in the same directory and a rename,
  // so that a failure leaves no partial file; "-" writes to standard output.
  static bool WriteBytes(const std::string& path, std::string_view bytes, Tree_FormatError* error);

  // The tree in `bytes`, in `format`; null with `error` filled (its source left as given).
  static Tree_NodePtr Parse(std::string_view bytes, Tree_Format format,
                            const Tree_ReadOptions& options, Tree_FormatError* error);
  // Reads and parses `path` in `format`, else the format its extension names, else the one
  // its bytes suggest. Null with `error` (source set to `path`) on failure.
  static Tree_NodePtr ReadFile(const std::string& path, std::optional<Tree_Format> format,
                               const Tree_ReadOptions& options, Tree_FormatError* error);
  // Appends the tree in `format` to `out` (JSON indented two spaces). False only for JSON
  // that cannot hold a name or value (see Tree_Json::Write).
  static bool Serialize(const Tree_NodePtr& tree, Tree_Format format, std::string& out,
                        Tree_FormatError* error);
};
