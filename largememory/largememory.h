// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Memory for what a large hosts file makes many megabytes of and keeps:
// the entries' blocks, the list and its index. On Linux it asks for huge
// pages (2 MiB): a fresh 4 KiB page costs a fault, and at 2,000,000 entries
// the faults were most of the loading time. Elsewhere (Windows grants large
// pages only to accounts holding a privilege users lack) it is plain heap
// memory.

#include <cstddef>
#include <new>

namespace largememory {

inline constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

// Asks the system to back the whole huge pages inside [data, data + bytes)
// with huge pages, before the memory is first touched.
void adviseHugePages(void* data, std::size_t bytes) noexcept;

// A block of `blockBytes` (a power of two dividing kHugePageBytes), aligned
// to its size, from regions of one huge page each; a region is given back
// when its last block is. Throws std::bad_alloc.
void* allocateRegionBlock(std::size_t blockBytes);
void releaseRegionBlock(void* block, std::size_t blockBytes) noexcept;

// How many regions are mapped now (none until a block is asked for).
std::size_t regionCount() noexcept;

// Memory of `bytes`, on huge pages when it spans at least one: for a
// container of millions of elements.
void* allocateLarge(std::size_t bytes);
void releaseLarge(void* data, std::size_t bytes) noexcept;

// An allocator of that memory, for standard and Abseil containers.
template <typename T>
struct Allocator {
    using value_type = T;
    Allocator() = default;
    template <typename U>
    Allocator(const Allocator<U>&) noexcept
    {
    }
    T* allocate(std::size_t count) { return static_cast<T*>(allocateLarge(count * sizeof(T))); }
    void deallocate(T* data, std::size_t count) noexcept { releaseLarge(data, count * sizeof(T)); }
    template <typename U>
    friend bool operator==(const Allocator&, const Allocator<U>&) noexcept
    {
        return true;
    }
};

} // namespace largememory
