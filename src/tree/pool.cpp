// Node cells in blocks of 2 MiB, each block aligned to its size so that a cell finds its block's
// header by its address alone; freed cells are reused within their block, and a block that no
// cell uses any more goes back to the system (one is kept for the next node).
#include "tree/pool.hpp"

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cell.hpp"
#include "tree/node.hpp"

// Under AddressSanitizer the blocks come from the allocator, whose leak check scans heap blocks
// but not mappings of their own, and cells not in use are poisoned.
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>

#include <cstdlib>
#define KELVORA_POISON(at, size) ASAN_POISON_MEMORY_REGION(at, size)
#define KELVORA_UNPOISON(at, size) ASAN_UNPOISON_MEMORY_REGION(at, size)
#define KELVORA_HEAP_BLOCKS 1
#else
#define KELVORA_POISON(at, size) static_cast<void>(0)
#define KELVORA_UNPOISON(at, size) static_cast<void>(0)
#endif

namespace kelvora::pool {
namespace {

constexpr std::size_t block_size = std::size_t{1} << 21;
constexpr std::size_t cell_size = sizeof(Cell<Decision>);
static_assert(cell_size % alignof(Cell<Decision>) == 0 && alignof(Cell<Decision>) <= 16);

// The head of a block. Blocks with a free cell are linked in a list, the block that new
// cells come from first; all blocks are linked in another, so that every node is reachable from
// the module's globals (as a leak checker sees it).
struct Block {
  Block* previous;
  Block* next;
  Block* all_previous;
  Block* all_next;
  void* freed;         // cells given back, linked through their first word
  std::uint32_t live;  // cells in use
  std::uint32_t made;  // cells ever cut from the fresh part of the block
  bool listed;         // whether it is in the list of blocks with room
};
constexpr std::size_t first_cell = (sizeof(Block) + 63) / 64 * 64;
constexpr std::uint32_t capacity = (block_size - first_cell) / cell_size;

// Guarded by the interpreter lock.
Block* head = nullptr;  // of the blocks with room
Block* tail = nullptr;
Block* spare = nullptr;  // an empty block kept for the next cell
Block* all = nullptr;    // every block made and not yet given back

void link(Block* block) {
  block->previous = tail;
  block->next = nullptr;
  (tail != nullptr ? tail->next : head) = block;
  tail = block;
  block->listed = true;
}

void unlink(Block* block) {
  (block->previous != nullptr ? block->previous->next : head) = block->next;
  (block->next != nullptr ? block->next->previous : tail) = block->previous;
  block->listed = false;
}

// A fresh block from the system, aligned to its size; null when there is no memory.
Block* map_block() {
#ifdef KELVORA_HEAP_BLOCKS
  void* block = nullptr;
  return posix_memalign(&block, block_size, block_size) == 0 ? static_cast<Block*>(block) : nullptr;
#else
  void* mapped =
      mmap(nullptr, 2 * block_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (start + block_size - 1) & ~(block_size - 1);
  if (aligned > start) munmap(mapped, aligned - start);
  if (const std::uintptr_t end = start + 2 * block_size; end > aligned + block_size) {
    munmap(reinterpret_cast<void*>(aligned + block_size), end - aligned - block_size);
  }
  // A program that fits in one block keeps its memory in small pages: a huge page would make
  // a few nodes cost 2 MiB.
#ifdef MADV_HUGEPAGE
  if (all != nullptr) madvise(reinterpret_cast<void*>(aligned), block_size, MADV_HUGEPAGE);
#endif
  return reinterpret_cast<Block*>(aligned);
#endif
}

Block* new_block() {
  Block* block = spare;
  spare = nullptr;
  if (block == nullptr) {
    block = map_block();
    if (block == nullptr) return nullptr;
    block->all_previous = nullptr;
    block->all_next = all;
    if (all != nullptr) all->all_previous = block;
    all = block;
  }
  block->freed = nullptr;
  block->live = block->made = 0;
  KELVORA_POISON(reinterpret_cast<char*>(block) + first_cell, block_size - first_cell);
  link(block);
  return block;
}

void drop_block(Block* block) {
  if (block->listed) unlink(block);
  if (spare == nullptr) {
    spare = block;
    return;
  }
  (block->all_previous != nullptr ? block->all_previous->all_next : all) = block->all_next;
  if (block->all_next != nullptr) block->all_next->all_previous = block->all_previous;
  KELVORA_UNPOISON(block, block_size);
#ifdef KELVORA_HEAP_BLOCKS
  std::free(block);
#else
  munmap(block, block_size);
#endif
}

}  // namespace

PyObject* allocate_node(PyTypeObject* type, Py_ssize_t) {
  Block* block = head;
  if (block == nullptr && (block = new_block()) == nullptr) return PyErr_NoMemory();
  char* cell;
  if (block->freed != nullptr) {
    cell = static_cast<char*>(block->freed);
    KELVORA_UNPOISON(cell, cell_size);
    std::memcpy(&block->freed, cell, sizeof block->freed);
  } else {
    cell = reinterpret_cast<char*>(block) + first_cell + block->made++ * cell_size;
    KELVORA_UNPOISON(cell, cell_size);
  }
  if (++block->live == capacity) unlink(block);
  std::memset(cell, 0, cell_size);
  return PyObject_Init(reinterpret_cast<PyObject*>(cell), type);
}

void free_node(void* object) {
  auto* block =
      reinterpret_cast<Block*>(reinterpret_cast<std::uintptr_t>(object) & ~(block_size - 1));
  std::memcpy(object, &block->freed, sizeof block->freed);
  block->freed = object;
  KELVORA_POISON(object, cell_size);
  if (--block->live == 0) return drop_block(block);
  if (!block->listed) link(block);
}

}  // namespace kelvora::pool
