// Reading and writing trees in files and on the standard streams, in either format.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "Tree/Tree_Node.h"
#include "formats/Tree_FormatError.h"

enum class Tree_Format { kJson, kText };

struct Tree_ReadOptions {
  std::string root_name = "root";  // the top node of a JSON document
  bool exact = false;              // JSON: read "@tree" descriptors (see Tree_JsonMapping.h)
  // Called now and then with the bytes and nodes read so far; may be empty.
  std::function<void(std::size_t bytes, std::size_t nodes)> progress;
};

struct Tree_WriteOptions {
  bool exact = false;    // JSON: write change flags and incomplete marks as descriptors
  bool compact = false;  // JSON: one line, no indentation
  // Indented output (JSON not compact, the text format) refuses a tree whose indentation
  // alone would pass this (kTooLarge).
  std::size_t max_indent_bytes = std::size_t{1} << 30;
};

class Tree_FormatIo {
 public:
  // "json" or "text" (also "tree"); nullopt for anything else.
  static std::optional<Tree_Format> FormatFromName(std::string_view name);
  // By extension: ".json" is JSON, ".tree" is text; nullopt for anything else.
  static std::optional<Tree_Format> FormatFromPath(std::string_view path);
  // The content rule, on the first bytes of an input: JSON when the first byte that is not a
  // blank (after a UTF-8 byte order mark) opens an object, an array or a string, or when
  // the bytes are one JSON number, true, false or null with only blanks around it; else the
  // text format.
  static Tree_Format Sniff(std::string_view bytes);
  // `given` when set, else the format the extension of `path` names, else Sniff(bytes).
  static Tree_Format Choose(std::optional<Tree_Format> given, std::string_view path,
                            std::string_view bytes);

  // Every byte of the file `path`, or of standard input for "-". False, with the reason in
  // `error`, when it cannot be read.
  static bool ReadBytes(const std::string& path, std::string& bytes, Tree_FormatError* error);
  // Writes `bytes` to `path` as WriteStream does.
  static bool WriteBytes(const std::string& path, std::string_view bytes, Tree_FormatError* error);
  // Writes what `write` puts into the stream it is given to `path`; "-" is standard output.
  // A regular file (or one a symbolic link leads to, the link kept) is replaced through a
  // temporary file that stays invisible until complete (Linux O_TMPFILE, else a named one
  // removed on failure), created without touching the process umask, and given the mode of
  // the file it replaces (and its owner, when run as root); a hard link to the old file
  // keeps the old content. Anything else that exists (a device such as /dev/null, a FIFO) is
  // written directly. When `write` returns false (having filled the error) or a write
  // fails, false, and no new file is left behind.
  static bool WriteStream(const std::string& path,
                          const std::function<bool(std::ostream&, Tree_FormatError*)>& write,
                          Tree_FormatError* error);
  // Writes `tree` in `format` to `path` through WriteStream, as a stream; compact JSON too
  // ends in a newline, as a text file does.
  static bool WriteFile(const Tree_NodePtr& tree, Tree_Format format, const std::string& path,
                        const Tree_WriteOptions& options, Tree_FormatError* error);

  // Reads and parses `path` ("-": standard input) in `format`, else the format its extension
  // names, else the one its first bytes suggest, a bounded chunk at a time. Null with `error`
  // (source set to `path`) on failure. `format_read`, when given, receives the format used.
  static Tree_NodePtr ReadFile(const std::string& path, std::optional<Tree_Format> format,
                               const Tree_ReadOptions& options, Tree_FormatError* error,
                               Tree_Format* format_read = nullptr);
};
