// The large blocks detail/mesh_table.h declares, kept per thread.
#include <detail/mesh_table.h>

#include <sys/mman.h>

#include <new>
#include <utility>

#include "huge_pages.h"

namespace XSI::detail {

namespace {

constexpr std::size_t kPageBytes = 4096;

std::size_t whole_pages(std::size_t bytes) {
    if (bytes > ~std::size_t{0} - kPageBytes) throw std::bad_alloc();
    return (bytes + kPageBytes - 1) & ~(kPageBytes - 1);
}

// Per thread, so that it needs no lock; unmapped when the thread ends.
struct KeptBlock {
    void* block = nullptr;
    std::size_t bytes = 0;
    ~KeptBlock() {
        if (block) ::munmap(block, bytes);
    }
};
thread_local KeptBlock t_kept;

}  // namespace

void* acquire_block(std::size_t& io_bytes) {
    const std::size_t bytes = whole_pages(io_bytes);
    if (t_kept.block && t_kept.bytes >= bytes) {
        io_bytes = std::exchange(t_kept.bytes, 0);
        return std::exchange(t_kept.block, nullptr);
    }
    void* block = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
    torvel::advise_huge_pages(block, bytes);
    io_bytes = bytes;
    return block;
}

void* grow_block(void* in_block, std::size_t in_bytes, std::size_t& io_bytes) {
    const std::size_t bytes = whole_pages(io_bytes);
    void* block = ::mremap(in_block, in_bytes, bytes, MREMAP_MAYMOVE);
    if (block == MAP_FAILED) throw std::bad_alloc();
    torvel::advise_huge_pages(block, bytes);
    io_bytes = bytes;
    return block;
}

void release_block(void* in_block, std::size_t in_bytes) noexcept {
    if (in_bytes < t_kept.bytes) {
        ::munmap(in_block, in_bytes);
        return;
    }
    if (t_kept.block) ::munmap(t_kept.block, t_kept.bytes);
    t_kept.block = in_block;
    t_kept.bytes = in_bytes;
}

}  // namespace XSI::detail
