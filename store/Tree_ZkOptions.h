// The options every store object takes, and the difference record a replica reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct Tree_ZkOptions {
  // Comma-separated HOST:PORT list, as zookeeper_init takes it.
  std::string connect = "127.0.0.1:2181";
  // How long to wait for a connection, the session timeout asked of the server, and how long
  // an operation goes on retrying after a connection loss or a lost version check.
  int timeout_ms = 5000;
  // "user:password" for digest authentication; empty for none. Znodes holding a tree pushed
  // with credentials are writable by that identity only; missing parents are created open.
  std::string auth;
  // Whether everyone may read znodes pushed with credentials.
  bool world_readable = true;
  // The largest request the server accepts (its jute.maxbuffer, 1 MB less one byte by
  // default). No chunk is larger.
  std::size_t max_request_bytes = 0xfffff;
  // The size chunks are cut to (a node and as many descendants as fit).
  std::size_t chunk_bytes = 256 * 1024;
  // Requests kept in flight by pushes and reads.
  int pipeline_depth = 256;
  // How long a chunk no current root reaches is kept: readers of a root replaced less than
  // this long ago keep reading it, and pushes in progress keep their chunks.
  int gc_grace_ms = 60000;
  // The most nodes a pulled or followed tree may have: a larger one is refused (kTooLarge)
  // before it is built, so that data declaring a huge tree cannot exhaust the reader.
  std::uint64_t max_nodes = 100000000;
  // Called by Push after the chunks are written and before the switch (for tools that
  // coordinate pushes, and for tests).
  std::function<void()> before_switch;
};

// One difference a replica applied to its tree. `path` is the local node's path (GetPath).
struct Tree_ZkChange {
  enum class Kind { kValue, kAdded, kRemoved };
  Kind kind = Kind::kValue;
  std::string path;                // the node's path, its top node's name first
  std::vector<std::string> names;  // the names below the top node, for names with backslashes
  bool had_value = false;
  std::string old_value;
  bool has_value = false;
  std::string new_value;
};
