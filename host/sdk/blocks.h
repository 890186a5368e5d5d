// Large blocks of mapped memory for arrays that are built, used and dropped within one operation:
// the edge table's scratch while a mesh is added, a plug-in's array of every polygon during a
// callback. The block released last is kept, pages and all, for the next request it can serve, so
// such arrays reuse memory that is already faulted in instead of asking the kernel for fresh zeroed
// pages (on this kind of machine the first touch of a page costs more than the work done on it).
#pragma once

#include <cstddef>

#include <xsi_decl.h>

// Inside the SDK library, exported for the host core, which takes its edge table's scratch from here.
namespace XSI::detail {

// Blocks of at least this many bytes go through here; smaller arrays are better served by malloc.
inline constexpr std::size_t kLargeBlockBytes = std::size_t{1} << 20;

// A block of at least `io_bytes` bytes (rounded up to whole pages); on return `io_bytes` is its real
// size, which may be larger when a kept block is handed out. Its contents are unspecified. Throws
// std::bad_alloc when the system has no memory for it.
SICPPSDKIMPEXP void* acquire_block(std::size_t& io_bytes);
// `in_block` (of `in_bytes`) grown to at least `io_bytes`, contents kept; it may move.
SICPPSDKIMPEXP void* grow_block(void* in_block, std::size_t in_bytes, std::size_t& io_bytes);
// Gives a block back: kept when it is the largest seen lately, else unmapped.
SICPPSDKIMPEXP void release_block(void* in_block, std::size_t in_bytes) noexcept;

}  // namespace XSI::detail
