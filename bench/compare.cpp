// The same workloads on this library, Boost.PropertyTree, nlohmann::json and
// nlohmann::ordered_json (members in insertion order, in a vector), side by side in one
// process: building by path and by append, random lookups by path, one wide node, a fan-out
// tree (append, lookups by path, destruction), deep copy, destruction, heap bytes and live
// allocations per node, the resident set after a destroyed tree, and pruning. Each timed
// figure is the minimum of three runs. Prints one table: workload, the four figures, and ours
// over the best peer (a ratio below 1 means this library is faster or leaner). Then what
// bounds some rows: malloc alone on a tree's pattern of blocks, and the destructions with
// free() put off.
//
// Heap use is the sum of the usable sizes of the live blocks a tree holds, whichever
// allocator made them: the replaced global operator new below counts every block of the
// peers (and ours that come from it); Tree_NodeAllocator::ThreadLive counts the blocks of
// the library's node heap when it is in use. Both are part of this binary only.
#include <malloc.h>
#include <unistd.h>
#include <zlib.h>

#include <absl/container/flat_hash_set.h>
#include <absl/hash/hash.h>

#include <algorithm>
#include <boost/property_tree/ptree.hpp>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <new>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Tree/Tree_Node.h"
#include "Tree/Tree_NodeAllocator.h"

// ---- Heap accounting ------------------------------------------------------------------------

namespace {

long long g_live_blocks = 0;
long long g_live_bytes = 0;

void* CountedAlloc(std::size_t size) {
  void* block = std::malloc(size != 0 ? size : 1);
  if (block == nullptr) throw std::bad_alloc();
  ++g_live_blocks;
  g_live_bytes += static_cast<long long>(malloc_usable_size(block));
  return block;
}

// While set, freeing is put off: blocks are recorded here, up to the capacity reserved
// beforehand (so recording never allocates), and freed once the clock has stopped. That
// times a destruction without the work of free().
std::vector<void*>* g_put_off = nullptr;

void CountedFree(void* block) noexcept {
  if (block == nullptr) return;
  if (g_put_off != nullptr && g_put_off->size() < g_put_off->capacity()) {
    g_put_off->push_back(block);
    return;
  }
  --g_live_blocks;
  g_live_bytes -= static_cast<long long>(malloc_usable_size(block));
  std::free(block);
}

}  // namespace

void* operator new(std::size_t size) {
  return CountedAlloc(size);
}
void* operator new[](std::size_t size) {
  return CountedAlloc(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return CountedAlloc(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return CountedAlloc(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* block) noexcept {
  CountedFree(block);
}
void operator delete[](void* block) noexcept {
  CountedFree(block);
}
void operator delete(void* block, std::size_t) noexcept {
  CountedFree(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  CountedFree(block);
}

namespace {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;
using OJson = nlohmann::ordered_json;
using PTree = boost::property_tree::ptree;

constexpr int kBranches = 1000;
constexpr int kLeavesPerBranch = 1000;
constexpr int kLookups = 1000000;
constexpr int kRuns = 3;
constexpr char kValue[] = "value";

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The minimum over kRuns of the seconds `timed` reports; `timed` times its own part.
double MinOf(const std::function<double()>& timed) {
  double best = 1e300;
  for (int run = 0; run < kRuns; ++run) best = std::min(best, timed());
  return best;
}

std::string BranchName(int branch) {
  return "branch" + std::to_string(branch);
}
std::string LeafName(int leaf) {
  return "key" + std::to_string(leaf);
}

// Names and paths shared by every library, made before any timing.
struct Names {
  std::vector<std::string> branches;
  std::vector<std::string> leaves;
  std::vector<RWCString> our_paths;      // "branchI\keyJ", in build order
  std::vector<std::string> boost_paths;  // "branchI.keyJ", in build order
  std::vector<int> lookup_order;         // kLookups random indexes into the paths
};

const Names& SharedNames() {
  static const Names names = [] {
    Names made;
    for (int b = 0; b < kBranches; ++b) made.branches.push_back(BranchName(b));
    for (int l = 0; l < kLeavesPerBranch; ++l) made.leaves.push_back(LeafName(l));
    for (int b = 0; b < kBranches; ++b) {
      for (int l = 0; l < kLeavesPerBranch; ++l) {
        made.our_paths.emplace_back(made.branches[b] + "\\" + made.leaves[l]);
        made.boost_paths.push_back(made.branches[b] + "." + made.leaves[l]);
      }
    }
    std::mt19937 random(42);
    std::uniform_int_distribution<int> pick(0, kBranches * kLeavesPerBranch - 1);
    for (int i = 0; i < kLookups; ++i) made.lookup_order.push_back(pick(random));
    return made;
  }();
  return names;
}

// ---- Builders -------------------------------------------------------------------------------

Tree_NodePtr OursByPath() {
  const Names& names = SharedNames();
  Tree_NodePtr root(new Tree_Node("root"));
  for (const RWCString& path : names.our_paths) {
    Tree_NodePtr node = root->GetOrCreateRelativeNode(path, root);
    delete node->SetTreeValue(new Tree_Value(kValue, 0));
  }
  return root;
}

PTree BoostByPath() {
  PTree root;
  for (const std::string& path : SharedNames().boost_paths) root.put(path, kValue);
  return root;
}

template <class J>
J JsonByPath() {
  const Names& names = SharedNames();
  J root = J::object();
  for (int b = 0; b < kBranches; ++b) {
    for (int l = 0; l < kLeavesPerBranch; ++l) root[names.branches[b]][names.leaves[l]] = kValue;
  }
  return root;
}

Tree_NodePtr OursByAppend() {
  const Names& names = SharedNames();
  Tree_NodePtr root(new Tree_Node("root"));
  for (int b = 0; b < kBranches; ++b) {
    Tree_NodePtr branch(new Tree_Node(names.branches[b]));
    root->Add(branch);
    for (int l = 0; l < kLeavesPerBranch; ++l) {
      branch->Add(Tree_NodePtr(new Tree_Node(names.leaves[l], new Tree_Value(kValue, 0))));
    }
  }
  return root;
}

PTree BoostByAppend() {
  const Names& names = SharedNames();
  PTree root;
  for (int b = 0; b < kBranches; ++b) {
    PTree& branch = root.push_back(std::make_pair(names.branches[b], PTree()))->second;
    for (int l = 0; l < kLeavesPerBranch; ++l) {
      branch.push_back(std::make_pair(names.leaves[l], PTree(kValue)));
    }
  }
  return root;
}

template <class J>
J JsonByAppend() {
  const Names& names = SharedNames();
  J root = J::object();
  for (int b = 0; b < kBranches; ++b) {
    J& branch = root.emplace(names.branches[b], J::object()).first.value();
    for (int l = 0; l < kLeavesPerBranch; ++l) branch.emplace(names.leaves[l], kValue);
  }
  return root;
}

// A tree of fan-out 4 and 10 levels below the root (1,398,101 nodes), leaves holding values.
constexpr int kFanOut = 4;
constexpr int kLevels = 10;
const char* const kFanNames[kFanOut] = {"c0", "c1", "c2", "c3"};

Tree_NodePtr OursFanOut() {
  Tree_NodePtr root(new Tree_Node("root"));
  std::vector<Tree_Node*> level{root.get()};
  for (int depth = 1; depth <= kLevels; ++depth) {
    std::vector<Tree_Node*> next;
    for (Tree_Node* node : level) {
      for (const char* name : kFanNames) {
        Tree_NodePtr child(depth == kLevels ? new Tree_Node(name, new Tree_Value(kValue, 0))
                                            : new Tree_Node(name));
        node->Add(child);
        next.push_back(child.get());
      }
    }
    level = std::move(next);
  }
  return root;
}

PTree BoostFanOut() {
  PTree root;
  std::vector<PTree*> level{&root};
  for (int depth = 1; depth <= kLevels; ++depth) {
    std::vector<PTree*> next;
    for (PTree* node : level) {
      for (const char* name : kFanNames) {
        PTree& child =
            node->push_back(std::make_pair(name, depth == kLevels ? PTree(kValue) : PTree()))
                ->second;
        next.push_back(&child);
      }
    }
    level = std::move(next);
  }
  return root;
}

template <class J>
J JsonFanOut() {
  J root = J::object();
  std::vector<J*> level{&root};
  for (int depth = 1; depth <= kLevels; ++depth) {
    std::vector<J*> next;
    for (J* node : level) {
      for (const char* name : kFanNames) {
        node->emplace(name, depth == kLevels ? J(kValue) : J::object());
      }
      // Only now: ordered_json keeps members in a vector, so a reference taken before the
      // next emplace may dangle.
      for (auto& child : node->items()) next.push_back(&child.value());
    }
    level = std::move(next);
  }
  return root;
}

// ---- Timed workloads ------------------------------------------------------------------------

template <class Build>
double TimeBuild(Build build) {
  return MinOf([&] {
    const auto start = Clock::now();
    auto tree = build();
    const double seconds = Seconds(start);
    return seconds;  // `tree` dies after the clock stopped
  });
}

// Destruction alone: the tree is built before the clock starts. With `put_off_free`, every
// free() waits until the clock has stopped, which times the destructors without the allocator.
template <class Build>
double TimeDestroy(Build build, bool put_off_free = false) {
  std::vector<void*> put_off;
  if (put_off_free) put_off.resize(4'000'000);  // its pages are touched now, not while timed
  return MinOf([&] {
    auto tree = std::make_unique<decltype(build())>(build());
    put_off.clear();
    g_put_off = put_off_free ? &put_off : nullptr;
    const auto start = Clock::now();
    tree.reset();
    const double seconds = Seconds(start);
    g_put_off = nullptr;
    for (void* block : put_off) CountedFree(block);
    return seconds;
  });
}

template <class Build, class Copy>
double TimeCopy(Build build, Copy copy) {
  auto tree = build();
  return MinOf([&] {
    const auto start = Clock::now();
    auto duplicate = copy(tree);
    const double seconds = Seconds(start);
    return seconds;
  });
}

std::size_t g_sink = 0;  // keeps lookups from being optimised away

double OursLookups() {
  const Names& names = SharedNames();
  const Tree_NodePtr root = OursByAppend();
  return MinOf([&] {
    const auto start = Clock::now();
    for (int index : names.lookup_order) {
      g_sink += root->GetValue(names.our_paths[index], root).length();
    }
    return Seconds(start);
  });
}

double BoostLookups() {
  const Names& names = SharedNames();
  const PTree root = BoostByAppend();
  return MinOf([&] {
    const auto start = Clock::now();
    for (int index : names.lookup_order) {
      g_sink += root.get<std::string>(names.boost_paths[index]).size();
    }
    return Seconds(start);
  });
}

template <class J>
double JsonLookups() {
  const Names& names = SharedNames();
  const J root = JsonByAppend<J>();
  return MinOf([&] {
    const auto start = Clock::now();
    for (int index : names.lookup_order) {
      const std::string& branch = names.branches[index / kLeavesPerBranch];
      const std::string& leaf = names.leaves[index % kLeavesPerBranch];
      g_sink += root.at(branch).at(leaf).template get<std::string>().size();
    }
    return Seconds(start);
  });
}

// One node with `width` value children "key0".."key<width-1>", appended in order.
struct WideNames {
  std::vector<std::string> names;
  std::vector<int> lookup_order;
};

WideNames MakeWideNames(int width) {
  WideNames made;
  for (int i = 0; i < width; ++i) made.names.push_back(LeafName(i));
  std::mt19937 random(7);
  std::uniform_int_distribution<int> pick(0, width - 1);
  for (int i = 0; i < 100000; ++i) made.lookup_order.push_back(pick(random));
  return made;
}

Tree_NodePtr OursWide(const WideNames& wide) {
  Tree_NodePtr root(new Tree_Node("root"));
  for (const std::string& name : wide.names) {
    root->Add(Tree_NodePtr(new Tree_Node(name, new Tree_Value(kValue, 0))));
  }
  return root;
}

PTree BoostWide(const WideNames& wide) {
  PTree root;
  for (const std::string& name : wide.names) root.push_back(std::make_pair(name, PTree(kValue)));
  return root;
}

template <class J>
J JsonWide(const WideNames& wide) {
  J root = J::object();
  for (const std::string& name : wide.names) root.emplace(name, kValue);
  return root;
}

// One figure per library; kNone where a peer is not measured (see the row's note).
constexpr double kNone = -1.0;
struct Figures {
  double ours;
  double boost;
  double json;
  double ordered;
};

template <class J>
double JsonWideLookups(const WideNames& wide) {
  const J root = JsonWide<J>(wide);
  return MinOf([&] {
    const auto start = Clock::now();
    for (int index : wide.lookup_order) {
      g_sink += root.find(wide.names[index])->template get_ref<const std::string&>().size();
    }
    return Seconds(start);
  });
}

// ordered_json finds a member by a linear scan, also on insertion, so a node of 100,000
// members costs 5e9 name comparisons to build and as many for 100,000 lookups: measured only
// up to kOrderedWideLimit members.
constexpr int kOrderedWideLimit = 10000;

Figures WideLookups(const WideNames& wide) {
  std::vector<RWCString> our_names(wide.names.begin(), wide.names.end());
  Figures result{};
  {
    const Tree_NodePtr root = OursWide(wide);
    result.ours = MinOf([&] {
      const auto start = Clock::now();
      for (int index : wide.lookup_order) {
        g_sink += reinterpret_cast<std::size_t>(root->Get(our_names[index], root.get()));
      }
      return Seconds(start);
    });
  }
  {
    const PTree root = BoostWide(wide);
    result.boost = MinOf([&] {
      const auto start = Clock::now();
      for (int index : wide.lookup_order) {
        g_sink += root.find(wide.names[index])->second.data().size();
      }
      return Seconds(start);
    });
  }
  result.json = JsonWideLookups<Json>(wide);
  result.ordered = static_cast<int>(wide.names.size()) <= kOrderedWideLimit
                       ? JsonWideLookups<OJson>(wide)
                       : kNone;
  return result;
}

// ---- Fan-out tree: lookups by path ----------------------------------------------------------

constexpr int kFanLookups = 100000;

// kFanLookups random leaves of the fan-out tree, as each library names them.
struct FanPaths {
  std::vector<RWCString> ours;            // "c0\c3\..."
  std::vector<std::string> boost;         // "c0.c3...."
  std::vector<std::vector<int>> indexes;  // the child names' indexes, for the JSON walks
};

const FanPaths& SharedFanPaths() {
  static const FanPaths paths = [] {
    FanPaths made;
    std::mt19937 random(11);
    std::uniform_int_distribution<int> pick(0, kFanOut - 1);
    for (int i = 0; i < kFanLookups; ++i) {
      std::string ours;
      std::string boost;
      std::vector<int> indexes;
      for (int depth = 0; depth < kLevels; ++depth) {
        const int child = pick(random);
        if (depth != 0) {
          ours += '\\';
          boost += '.';
        }
        ours += kFanNames[child];
        boost += kFanNames[child];
        indexes.push_back(child);
      }
      made.ours.emplace_back(ours);
      made.boost.push_back(std::move(boost));
      made.indexes.push_back(std::move(indexes));
    }
    return made;
  }();
  return paths;
}

// The first of the timed passes, on a tree no walk has gone through yet: small nodes note
// where each walk through a child went on, and later walks fetch that ahead.
double g_ours_fan_first_pass = 0;

double OursFanLookups() {
  const FanPaths& paths = SharedFanPaths();
  const Tree_NodePtr root = OursFanOut();
  bool first = true;
  return MinOf([&] {
    const auto start = Clock::now();
    for (const RWCString& path : paths.ours) g_sink += root->GetValue(path, root).length();
    const double seconds = Seconds(start);
    if (first) g_ours_fan_first_pass = seconds;
    first = false;
    return seconds;
  });
}

double BoostFanLookups() {
  const FanPaths& paths = SharedFanPaths();
  const PTree root = BoostFanOut();
  return MinOf([&] {
    const auto start = Clock::now();
    for (const std::string& path : paths.boost) g_sink += root.get<std::string>(path).size();
    return Seconds(start);
  });
}

template <class J>
double JsonFanLookups() {
  const FanPaths& paths = SharedFanPaths();
  const std::string names[kFanOut] = {kFanNames[0], kFanNames[1], kFanNames[2], kFanNames[3]};
  const J root = JsonFanOut<J>();
  return MinOf([&] {
    const auto start = Clock::now();
    for (const std::vector<int>& indexes : paths.indexes) {
      const J* node = &root;
      for (int index : indexes) node = &node->at(names[index]);
      g_sink += node->template get_ref<const std::string&>().size();
    }
    return Seconds(start);
  });
}

// Live heap blocks and bytes that `build`'s result holds, divided by `nodes`: the blocks of
// the global operator new and those of the node heap, by their usable sizes.
template <class Build>
std::pair<double, double> HeapPerNode(Build build, double nodes) {
  const Tree_NodeAllocator::LiveCount heap_before = Tree_NodeAllocator::ThreadLive();
  const long long blocks_before = g_live_blocks;
  const long long bytes_before = g_live_bytes;
  auto tree = build();
  const Tree_NodeAllocator::LiveCount heap_after = Tree_NodeAllocator::ThreadLive();
  const double blocks = static_cast<double>(g_live_blocks - blocks_before +
                                            static_cast<long long>(heap_after.blocks) -
                                            static_cast<long long>(heap_before.blocks)) /
                        nodes;
  const double bytes =
      static_cast<double>(g_live_bytes - bytes_before + static_cast<long long>(heap_after.bytes) -
                          static_cast<long long>(heap_before.bytes)) /
      nodes;
  return {blocks, bytes};
}

// ---- Memory handed back -----------------------------------------------------------------------

// The resident set of this process in bytes, from /proc/self/statm.
double ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long long size = 0;
  long long resident = 0;
  statm >> size >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// The resident set after `build`'s tree was made and destroyed, over the resident set just
// before it was made; and the resident bytes the live tree added. No allocator is asked to
// trim: each does what it does by itself when a tree dies.
struct Resident {
  double after_over_before;
  double grown_megabytes;
  double kept_megabytes;
};

template <class Build>
Resident ResidentAfterDestroy(Build build) {
  const double before = ResidentBytes();
  double built = 0;
  {
    auto tree = build();
    built = ResidentBytes();
  }
  const double after = ResidentBytes();
  return Resident{after / before, (built - before) / 1e6, (after - before) / 1e6};
}

// A node with `width` children, alternately a value leaf and an empty branch, pruned.
double OursPrune(int width) {
  return MinOf([&] {
    Tree_NodePtr root(new Tree_Node("root"));
    for (int i = 0; i < width; ++i) {
      const std::string name = LeafName(i);
      root->Add(Tree_NodePtr(i % 2 == 0 ? new Tree_Node(name, new Tree_Value(kValue, 0))
                                        : new Tree_Node(name)));
    }
    const auto start = Clock::now();
    root->RemoveEmptyBranches();
    const double seconds = Seconds(start);
    if (root->GetChildCount() != (width + 1) / 2) std::abort();
    return seconds;
  });
}

// ---- The table ------------------------------------------------------------------------------

void PrintHeader() {
  std::printf("| %-50s | %12s | %12s | %12s | %12s | %10s |\n", "workload", "ours", "Boost",
              "nlohmann", "ordered_json", "ours/best");
  const std::string wide(14, '-');
  std::printf("|%s|%s|%s|%s|%s|%s|\n", std::string(52, '-').c_str(), wide.c_str(), wide.c_str(),
              wide.c_str(), wide.c_str(), std::string(12, '-').c_str());
}

// A figure, or "-" for kNone.
std::string Cell(double value, double scale) {
  if (value < 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value * scale);
  return text;
}

// Ours over the smallest measured peer figure.
void PrintRow(const char* workload, const char* unit, double scale, Figures f) {
  char label[128];
  std::snprintf(label, sizeof label, "%s (%s)", workload, unit);
  double best = 1e300;
  for (double peer : {f.boost, f.json, f.ordered}) {
    if (peer >= 0) best = std::min(best, peer);
  }
  std::printf("| %-50s | %12s | %12s | %12s | %12s | %10.2f |\n", label,
              Cell(f.ours, scale).c_str(), Cell(f.boost, scale).c_str(),
              Cell(f.json, scale).c_str(), Cell(f.ordered, scale).c_str(), f.ours / best);
  std::fflush(stdout);
}

void PrintOursOnly(const char* workload, const char* unit, double value, const char* peer_text) {
  char label[128];
  std::snprintf(label, sizeof label, "%s (%s)", workload, unit);
  std::printf("| %-50s | %12.2f | %12s | %12s | %12s | %10s |\n", label, value, peer_text,
              peer_text, peer_text, "-");
  std::fflush(stdout);
}

// The byte block of `tree` written, beside memcpy of as many bytes; the cold checksum beside
// zlib's crc32 over the block's bytes.
void PrintBlockAndChecksum(const Tree_NodePtr& tree) {
  int size = 0;
  // The writer alone: the id vector is made before the clock starts; the writer consumes it,
  // so freeing the records is part of the figure.
  double write_seconds = MinOf([&] {
    RWTPtrOrderedVector<Tree_IdNodeInfo>* records = Tree_Node::GetIdNodeVecFromTree(tree);
    const auto start = Clock::now();
    std::unique_ptr<char[]> block(Tree_Node::GetSerializeIdNodeInfoVec(records, size, "", false));
    const double seconds = Seconds(start);
    g_sink += static_cast<std::size_t>(block[0]);
    return seconds;
  });
  std::vector<char> from(static_cast<std::size_t>(size), 'x');
  std::vector<char> to(static_cast<std::size_t>(size));
  const double copy_seconds = MinOf([&] {
    const auto start = Clock::now();
    std::memcpy(to.data(), from.data(), from.size());
    const double seconds = Seconds(start);
    g_sink += static_cast<std::size_t>(to[to.size() / 2]);
    return seconds;
  });
  // What the writer cannot avoid: a new block (its pages are touched for the first time) and
  // the release of the records it consumes.
  const double fresh_copy_seconds = MinOf([&] {
    const auto start = Clock::now();
    std::unique_ptr<char[]> fresh(new char[from.size() + 1]);
    std::memcpy(fresh.get(), from.data(), from.size());
    const double seconds = Seconds(start);
    g_sink += static_cast<std::size_t>(fresh[from.size() / 2]);
    return seconds;
  });
  // The writer's input: the id vector of the tree, records from the node heap.
  const double vector_seconds = MinOf([&] {
    const auto start = Clock::now();
    Tree_OwnedIdNodeVec records(Tree_Node::GetIdNodeVecFromTree(tree));
    const double seconds = Seconds(start);
    g_sink += records->entries();
    return seconds;
  });
  const double release_seconds = MinOf([&] {
    Tree_OwnedIdNodeVec records(Tree_Node::GetIdNodeVecFromTree(tree));
    const auto start = Clock::now();
    records.reset();
    return Seconds(start);
  });
  const double checksum_seconds = MinOf([&] {
    tree->ExecuteOnEntireSubtree([](Tree_Node* node) { node->SetChecksum(0, true, false); });
    const auto start = Clock::now();
    g_sink += tree->GetChecksum();
    return Seconds(start);
  });
  const double crc_seconds = MinOf([&] {
    const auto start = Clock::now();
    g_sink += crc32(0, reinterpret_cast<const Bytef*>(from.data()), static_cast<uInt>(from.size()));
    return Seconds(start);
  });
  std::printf("| %-50s | %12.2f | %12s | %12s | %12s | %10.2f |\n",
              "byte block write (ms; peer: memcpy)", write_seconds * 1e3, "-", "-", "-",
              write_seconds / copy_seconds);
  std::printf("|   %-48s | %12.2f | %12s | %12s | %12s | %10s |\n", "memcpy of the same bytes (ms)",
              copy_seconds * 1e3, "-", "-", "-", "-");
  std::printf("|   %-48s | %12.2f | %12s | %12s | %12s | %10.2f |\n",
              "memcpy into a new block (ms)", fresh_copy_seconds * 1e3, "-", "-", "-",
              write_seconds / fresh_copy_seconds);
  std::printf("|   %-48s | %12.2f | %12s | %12s | %12s | %10s |\n",
              "making the id vector it consumes (ms)", vector_seconds * 1e3, "-", "-", "-", "-");
  std::printf("|   %-48s | %12.2f | %12s | %12s | %12s | %10s |\n",
              "releasing the records alone (ms)", release_seconds * 1e3, "-", "-", "-", "-");
  std::printf("| %-50s | %12.2f | %12s | %12s | %12s | %10.2f |\n",
              "cold checksum (ms; peer: zlib crc32)", checksum_seconds * 1e3, "-", "-", "-",
              checksum_seconds / crc_seconds);
  std::printf("|   %-48s | %12.2f | %12s | %12s | %12s | %10s |\n",
              "crc32 over the block's bytes (ms)", crc_seconds * 1e3, "-", "-", "-", "-");
}

// ---- What the name index and the allocator cost by themselves -----------------------------

// An index entry as a node keeps it: the first child of a name, the name's hash and the
// number of children of that name. Equality by address is cheaper than the tree's (it
// compares names), so the figure below is a floor.
struct IndexEntry {
  const void* first;
  std::uint32_t hash;
  int count;
};
struct IndexHash {
  std::size_t operator()(const IndexEntry& entry) const noexcept { return entry.hash; }
};
struct IndexEq {
  bool operator()(const IndexEntry& a, const IndexEntry& b) const noexcept {
    return a.first == b.first;
  }
};

// The 1,000 x 1,000 names of a build by path, each looked up and then inserted into one absl
// set per branch; the sets stay alive until the clock has stopped, as a tree keeps its indexes.
double IndexAlone() {
  const Names& names = SharedNames();
  return MinOf([&] {
    std::vector<absl::flat_hash_set<IndexEntry, IndexHash, IndexEq>> sets(kBranches);
    const auto start = Clock::now();
    for (auto& set : sets) {
      for (const std::string& leaf : names.leaves) {
        const IndexEntry entry{&leaf,
                               static_cast<std::uint32_t>(absl::Hash<std::string_view>{}(leaf)), 1};
        if (set.find(entry) == set.end()) set.insert(entry);
      }
    }
    return Seconds(start);
  });
}

// malloc and free alone on the blocks of a 1,000 x 1,000 tree whose node blocks are
// `node_bytes` long: per leaf a node block and a 40-byte value whose address the node holds,
// per branch a vector of node addresses grown by doubling. Frees in a destructor's order.
// Returns the build and the destroy time, each the minimum of kRuns.
std::pair<double, double> AllocatorAlone(std::size_t node_bytes) {
  double build = 1e300;
  double destroy = 1e300;
  for (int run = 0; run < kRuns; ++run) {
    auto start = Clock::now();
    std::vector<std::vector<void*>*> branches;
    branches.reserve(kBranches);
    for (int b = 0; b < kBranches; ++b) {
      auto* leaves = new std::vector<void*>;
      for (int l = 0; l < kLeavesPerBranch; ++l) {
        void* node = std::malloc(node_bytes);
        void* value = std::malloc(40);
        if (node == nullptr || value == nullptr) std::abort();
        std::memcpy(node, &value, sizeof value);
        static_cast<char*>(value)[0] = 'v';
        leaves->push_back(node);
      }
      branches.push_back(leaves);
    }
    build = std::min(build, Seconds(start));
    start = Clock::now();
    for (std::vector<void*>* leaves : branches) {
      for (void* node : *leaves) {
        void* value;
        std::memcpy(&value, node, sizeof value);
        std::free(value);
        std::free(node);
      }
      delete leaves;
    }
    destroy = std::min(destroy, Seconds(start));
  }
  return {build, destroy};
}

void PrintAllocatorAlone() {
  std::printf(
      "\nmalloc alone on the same blocks (node block, 40-byte value, vector per branch):\n\n");
  std::printf("| %-30s | %12s | %12s |\n", "node block (bytes)", "build (ms)", "destroy (ms)");
  std::printf("|%s|%s|%s|\n", std::string(32, '-').c_str(), std::string(14, '-').c_str(),
              std::string(14, '-').c_str());
  const std::size_t ours = sizeof(Tree_Node) + sizeof(Tree_HandleFamily);
  for (std::size_t node_bytes : {ours, std::size_t{120}, std::size_t{96}}) {
    const auto [build, destroy] = AllocatorAlone(node_bytes);
    char label[64];
    std::snprintf(label, sizeof label, "%zu%s", node_bytes, node_bytes == ours ? " (ours)" : "");
    std::printf("| %-30s | %12.2f | %12.2f |\n", label, build * 1e3, destroy * 1e3);
  }
}

}  // namespace

int main() {
  SharedNames();
  SharedFanPaths();
  std::printf("1,000 branches x 1,000 leaves unless said otherwise; minimum of %d runs.\n", kRuns);
  std::printf("Node heap: %s.\n\n", Tree_NodeAllocator::UsesNodeHeap()
                                        ? "mimalloc, private"
                                        : "off (the global operator new)");
  // First, while no workload has left freed memory behind in any allocator.
  const Resident ours_rss = ResidentAfterDestroy(OursByAppend);
  const Resident boost_rss = ResidentAfterDestroy(BoostByAppend);
  const Resident json_rss = ResidentAfterDestroy(JsonByAppend<Json>);
  const Resident ordered_rss = ResidentAfterDestroy(JsonByAppend<OJson>);

  PrintHeader();
  PrintRow("build by path 1,000 x 1,000", "ms", 1e3,
           Figures{TimeBuild(OursByPath), TimeBuild(BoostByPath), TimeBuild(JsonByPath<Json>),
                   TimeBuild(JsonByPath<OJson>)});
  PrintOursOnly("  absl index inserts alone", "ms", IndexAlone() * 1e3, "-");
  PrintRow("build by append 1,000 x 1,000", "ms", 1e3,
           Figures{TimeBuild(OursByAppend), TimeBuild(BoostByAppend), TimeBuild(JsonByAppend<Json>),
                   TimeBuild(JsonByAppend<OJson>)});
  PrintRow("lookup 1,000,000 random by path", "ms", 1e3,
           Figures{OursLookups(), BoostLookups(), JsonLookups<Json>(), JsonLookups<OJson>()});
  for (int width : {10000, 100000}) {
    const WideNames wide = MakeWideNames(width);
    char label[96];
    std::snprintf(label, sizeof label, "wide node %d: append", width);
    PrintRow(
        label, "ms", 1e3,
        Figures{
            TimeBuild([&] { return OursWide(wide); }), TimeBuild([&] { return BoostWide(wide); }),
            TimeBuild([&] { return JsonWide<Json>(wide); }),
            width <= kOrderedWideLimit ? TimeBuild([&] { return JsonWide<OJson>(wide); }) : kNone});
    std::snprintf(label, sizeof label, "wide node %d: 100,000 lookups by name", width);
    PrintRow(label, "ms", 1e3, WideLookups(wide));
  }
  PrintRow("fan-out 4, 10 levels (1,398,101): append", "ms", 1e3,
           Figures{TimeBuild(OursFanOut), TimeBuild(BoostFanOut), TimeBuild(JsonFanOut<Json>),
                   TimeBuild(JsonFanOut<OJson>)});
  PrintRow("fan-out: 100,000 lookups by path", "ms", 1e3,
           Figures{OursFanLookups(), BoostFanLookups(), JsonFanLookups<Json>(),
                   JsonFanLookups<OJson>()});
  PrintOursOnly("  first pass of ours, on an unwalked tree", "ms", g_ours_fan_first_pass * 1e3,
                "-");
  PrintRow("fan-out: destroy", "ms", 1e3,
           Figures{TimeDestroy(OursFanOut), TimeDestroy(BoostFanOut), TimeDestroy(JsonFanOut<Json>),
                   TimeDestroy(JsonFanOut<OJson>)});
  PrintRow(
      "deep copy 1,000 x 1,000", "ms", 1e3,
      Figures{TimeCopy(OursByAppend,
                       [](const Tree_NodePtr& tree) { return tree->DuplicateFromHereDown(true); }),
              TimeCopy(BoostByAppend, [](const PTree& tree) { return PTree(tree); }),
              TimeCopy(JsonByAppend<Json>, [](const Json& tree) { return Json(tree); }),
              TimeCopy(JsonByAppend<OJson>, [](const OJson& tree) { return OJson(tree); })});
  PrintRow("destroy 1,000 x 1,000", "ms", 1e3,
           Figures{TimeDestroy(OursByAppend), TimeDestroy(BoostByAppend),
                   TimeDestroy(JsonByAppend<Json>), TimeDestroy(JsonByAppend<OJson>)});

  const double nodes = 1.0 + kBranches + 1.0 * kBranches * kLeavesPerBranch;
  const auto ours_heap = HeapPerNode(OursByAppend, nodes);
  const auto boost_heap = HeapPerNode(BoostByAppend, nodes);
  const auto json_heap = HeapPerNode(JsonByAppend<Json>, nodes);
  const auto ordered_heap = HeapPerNode(JsonByAppend<OJson>, nodes);
  PrintRow("heap bytes per node", "bytes", 1.0,
           Figures{ours_heap.second, boost_heap.second, json_heap.second, ordered_heap.second});
  PrintRow("live allocations per node", "count", 1.0,
           Figures{ours_heap.first, boost_heap.first, json_heap.first, ordered_heap.first});
  PrintRow("resident set grown by the live tree", "MB", 1.0,
           Figures{ours_rss.grown_megabytes, boost_rss.grown_megabytes, json_rss.grown_megabytes,
                   ordered_rss.grown_megabytes});
  PrintRow("resident set kept after destroying it", "MB", 1.0,
           Figures{ours_rss.kept_megabytes, boost_rss.kept_megabytes, json_rss.kept_megabytes,
                   ordered_rss.kept_megabytes});
  PrintRow("  resident set after destroying / before", "ratio", 1.0,
           Figures{ours_rss.after_over_before, boost_rss.after_over_before,
                   json_rss.after_over_before, ordered_rss.after_over_before});

  for (int width : {100000, 1000000}) {
    char label[96];
    std::snprintf(label, sizeof label, "prune node of %d children, half empty", width);
    PrintOursOnly(label, "ms", OursPrune(width) * 1e3, "n/a");
  }
  PrintBlockAndChecksum(OursByAppend());
  PrintAllocatorAlone();
  // Last: putting off millions of frees leaves the heap in a state that would colour the
  // figures measured after it.
  std::printf("\nDestruction with every free() put off until the clock has stopped:\n\n");
  PrintHeader();
  PrintRow("destroy 1,000 x 1,000 without free()", "ms", 1e3,
           Figures{TimeDestroy(OursByAppend, true), TimeDestroy(BoostByAppend, true),
                   TimeDestroy(JsonByAppend<Json>, true), TimeDestroy(JsonByAppend<OJson>, true)});
  PrintRow("destroy fan-out without free()", "ms", 1e3,
           Figures{TimeDestroy(OursFanOut, true), TimeDestroy(BoostFanOut, true),
                   TimeDestroy(JsonFanOut<Json>, true), TimeDestroy(JsonFanOut<OJson>, true)});
  std::printf("\n(sink %zu)\n", g_sink % 10);
  return 0;
}
