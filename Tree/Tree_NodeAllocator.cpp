// The node heap: mimalloc, opened with dlopen and RTLD_LOCAL. Linking the library's shared
// object would put its malloc, free and operator new ahead of the C library's for the whole
// process; opened locally, its symbols are reachable only through the pointers kept here.
#include "Tree/Tree_NodeAllocator.h"

#include <atomic>
#include <new>

#if TREE_NODE_ALLOCATOR
#include <dlfcn.h>
#include <mimalloc.h>
#include <sys/mman.h>

#include <cstdint>
#endif

namespace {

#if TREE_NODE_ALLOCATOR

// The entry points of the node heap, all null when it could not be opened.
struct NodeHeap {
  decltype(&mi_malloc) allocate = nullptr;
  decltype(&mi_free) free = nullptr;
  decltype(&mi_collect) collect = nullptr;
  decltype(&mi_heap_get_default) thread_heap = nullptr;
  decltype(&mi_heap_visit_blocks) visit = nullptr;
  decltype(&mi_option_get) option_get = nullptr;
  decltype(&mi_option_set) option_set = nullptr;
  long decommit_delay = 0;  // mimalloc's own, restored after each eager collection

  NodeHeap() noexcept {
    // Never closed: blocks may be freed until the process ends.
    void* const library = dlopen(TREE_MIMALLOC_SONAME, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (library == nullptr) return;
    allocate = reinterpret_cast<decltype(allocate)>(dlsym(library, "mi_malloc"));
    free = reinterpret_cast<decltype(free)>(dlsym(library, "mi_free"));
    collect = reinterpret_cast<decltype(collect)>(dlsym(library, "mi_collect"));
    thread_heap = reinterpret_cast<decltype(thread_heap)>(dlsym(library, "mi_heap_get_default"));
    visit = reinterpret_cast<decltype(visit)>(dlsym(library, "mi_heap_visit_blocks"));
    option_get = reinterpret_cast<decltype(option_get)>(dlsym(library, "mi_option_get"));
    option_set = reinterpret_cast<decltype(option_set)>(dlsym(library, "mi_option_set"));
    if (allocate == nullptr || free == nullptr || collect == nullptr || thread_heap == nullptr ||
        visit == nullptr || option_get == nullptr || option_set == nullptr) {
      allocate = nullptr;
      free = nullptr;
    } else {
      decommit_delay = option_get(mi_option_decommit_delay);
    }
  }
};

// Made by the first allocation of the process, before any block exists, so every block is
// freed by the heap that made it.
const NodeHeap& Heap() noexcept {
  static const NodeHeap heap;
  return heap;
}

// mimalloc takes memory from the system in segments of 32 MiB at aligned addresses; a tree
// of a million nodes touches some 45,000 fresh pages of them, and faulting them in one 4 KiB
// page at a time was about half the time of building or copying it. Once a thread holds many
// blocks, each segment it allocates from is advised for transparent huge pages, so it is
// faulted in 2 MiB at a time where the system allows. mimalloc still gives free spans back
// (that splits a huge page, and the advice stays with the range), so the resident set falls
// as before once a tree is destroyed. A thread with a small tree keeps 4 KiB pages: a 2 MiB
// page would be mostly empty.
constexpr std::uintptr_t kSegmentBytes = std::uintptr_t{1} << 25;
constexpr long kHugeFromBlocks = 1L << 16;

// Blocks this thread allocated less those it freed (blocks freed on other threads are not
// seen: an estimate, which is all a hint needs).
thread_local long t_held_blocks = 0;
// The segments this thread advised last. Advising a segment again is harmless, so a few
// suffice, and no thread waits for another.
constexpr int kRecentSegments = 8;
thread_local std::uintptr_t t_advised[kRecentSegments] = {};
thread_local int t_next_advised = 0;

// The segment advised last: nearly every allocation falls into it, and one comparison
// settles those.
thread_local std::uintptr_t t_last_advised = 0;

void NoteSegment(const void* block) noexcept {
  if (++t_held_blocks < kHugeFromBlocks) return;
  const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(block) & ~(kSegmentBytes - 1);
  if (base == t_last_advised) return;
  t_last_advised = base;
  for (const std::uintptr_t known : t_advised) {
    if (known == base) return;
  }
  t_advised[t_next_advised] = base;
  t_next_advised = (t_next_advised + 1) % kRecentSegments;
  // A part of the range that is not mapped makes the call fail for that part only.
  (void)madvise(reinterpret_cast<void*>(base), kSegmentBytes, MADV_HUGEPAGE);
}

#endif

// Blocks freed on this thread since its last return of memory.
thread_local std::size_t t_freed_blocks = 0;

}  // namespace

void* Tree_NodeAllocator::Allocate(std::size_t size) {
#if TREE_NODE_ALLOCATOR
  if (const auto allocate = Heap().allocate) {
    void* const block = allocate(size);
    if (block == nullptr) throw std::bad_alloc();
    NoteSegment(block);
    return block;
  }
#endif
  return ::operator new(size);
}

void* Tree_NodeAllocator::TryAllocate(std::size_t size) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}

void Tree_NodeAllocator::Free(void* block) noexcept {
  if (block == nullptr) return;
  ++t_freed_blocks;
#if TREE_NODE_ALLOCATOR
  if (const auto free = Heap().free) {
    --t_held_blocks;
    free(block);
    return;
  }
#endif
  ::operator delete(block);
}

bool Tree_NodeAllocator::UsesNodeHeap() noexcept {
#if TREE_NODE_ALLOCATOR
  return Heap().allocate != nullptr;
#else
  return false;
#endif
}

Tree_NodeAllocator::LiveCount Tree_NodeAllocator::ThreadLive() {
  LiveCount count;
#if TREE_NODE_ALLOCATOR
  const NodeHeap& heap = Heap();
  if (heap.allocate == nullptr) return count;
  heap.visit(
      heap.thread_heap(), true,
      [](const mi_heap_t*, const mi_heap_area_t* area, void* block, std::size_t block_size,
         void* arg) {
        if (block != nullptr) {
          auto* const sum = static_cast<LiveCount*>(arg);
          ++sum->blocks;
          sum->bytes += block_size;
        }
        (void)area;
        return true;
      },
      &count);
#endif
  return count;
}

void Tree_NodeAllocator::ReturnFreedMemory(bool force) noexcept {
  if (!force && t_freed_blocks < kReturnAfterBlocks) return;
  t_freed_blocks = 0;
#if TREE_NODE_ALLOCATOR
  const NodeHeap& heap = Heap();
  if (heap.allocate == nullptr) return;
  // mimalloc gives the pages of a freed span back only once they have been free for its
  // decommit delay (25 ms by default), and a collection, even a forced one, leaves younger
  // spans resident: a destroyed tree kept about 33 MB that way. The delay is lifted for this
  // one collection only, so that ordinary churn keeps its pages warm; it is restored to the
  // value read at start, so collections on several threads at once cannot leave it at 0.
  heap.option_set(mi_option_decommit_delay, 0);
  heap.collect(true);
  heap.option_set(mi_option_decommit_delay, heap.decommit_delay);
#endif
}

void* Tree_NodeHeapObject::operator new(std::size_t size) {
  return Tree_NodeAllocator::Allocate(size);
}

void* Tree_NodeHeapObject::operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Tree_NodeAllocator::TryAllocate(size);
}

void Tree_NodeHeapObject::operator delete(void* block) noexcept {
  Tree_NodeAllocator::Free(block);
}

void Tree_NodeHeapObject::operator delete(void* block, const std::nothrow_t&) noexcept {
  Tree_NodeAllocator::Free(block);
}
