// The allocator of the blocks the library makes for every node: the node with its first handle
// family, its value, its children vector and that vector's slots. They come from a heap of
// their own (mimalloc, loaded privately, so the process's malloc and global operator new stay
// what the host chose) and fall back to the global operator new when that heap is unavailable
// or the library was built without it (TREE_NODE_ALLOCATOR=OFF, as the sanitizer presets do).
// The choice is made once, at the first allocation, and holds for the whole process.
//
// Threads: every member may be called from any thread; a block may be freed on another thread
// than the one that allocated it. Large destructions hand the freed memory back to the system
// (see ReturnFreedMemory), so a destroyed tree does not keep its pages. Once a thread holds
// some 65,000 blocks, the memory it allocates from is advised for transparent huge pages, so
// a large tree faults its pages in 2 MiB at a time where the system allows it; a small tree
// keeps 4 KiB pages.
#pragma once

#include <cstddef>
#include <limits>
#include <new>

class Tree_NodeAllocator {
 public:
  // A block of at least `size` bytes aligned for any object; raises std::bad_alloc.
  static void* Allocate(std::size_t size);
  // The same, or null where Allocate would raise: for the nothrow operator new of the classes
  // that live in the node heap.
  static void* TryAllocate(std::size_t size) noexcept;
  // Frees a block made by Allocate (null is ignored).
  static void Free(void* block) noexcept;

  // Whether blocks come from the node heap rather than the global operator new.
  static bool UsesNodeHeap() noexcept;

  // The live blocks of the node heap that the calling thread allocated and still owns, and the
  // sum of their usable sizes. Walks every block, so it is for measurements, not for hot
  // paths. Both 0 when the node heap is not in use.
  struct LiveCount {
    std::size_t blocks = 0;
    std::size_t bytes = 0;
  };
  static LiveCount ThreadLive();

  // Hands the free pages of the calling thread's node heap back to the system once at least
  // kReturnAfterBlocks blocks were freed on this thread since the last return, or at once
  // with `force`. The outermost destructor of a tree calls it when it is done.
  static constexpr std::size_t kReturnAfterBlocks = 1 << 18;
  static void ReturnFreedMemory(bool force = false) noexcept;
};

// A base that gives a class its blocks from the node heap through class-level operator new
// and delete (the global ones stay the host's). `new` and `delete` of such an object pair up
// as always, on any thread. Defined out of line: inlined into a host's `new Tree_Value(...)`,
// the delete of the throwing path trips GCC's maybe-uninitialized warning.
class Tree_NodeHeapObject {
 public:
  static void* operator new(std::size_t size);
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
  static void* operator new(std::size_t, void* where) noexcept { return where; }
  static void operator delete(void* block) noexcept;
  static void operator delete(void* block, const std::nothrow_t&) noexcept;
  static void operator delete(void*, void*) noexcept {}

 protected:
  Tree_NodeHeapObject() = default;
  ~Tree_NodeHeapObject() = default;
};

// A standard allocator over Tree_NodeAllocator, for the containers a node owns.
template <class T>
struct Tree_NodeStlAllocator {
  using value_type = T;
  Tree_NodeStlAllocator() noexcept = default;
  template <class U>
  Tree_NodeStlAllocator(const Tree_NodeStlAllocator<U>&) noexcept {}  // NOLINT: rebinding

  T* allocate(std::size_t count) {
    if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(Tree_NodeAllocator::Allocate(count * sizeof(T)));
  }
  void deallocate(T* block, std::size_t) noexcept { Tree_NodeAllocator::Free(block); }

  template <class U>
  friend bool operator==(const Tree_NodeStlAllocator&, const Tree_NodeStlAllocator<U>&) noexcept {
    return true;
  }
};
