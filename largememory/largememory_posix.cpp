// SPDX-License-Identifier: GPL-3.0-or-later
#include "largememory.h"

#include <cstdint>
#include <mutex>
#include <sys/mman.h>
#include <unordered_map>

namespace largememory {
namespace {

// Mapped memory of `bytes` (a multiple of the huge page), aligned to a huge
// page and advised for huge pages; null when the system has no memory.
void* mapAligned(std::size_t bytes) noexcept
{
    const std::size_t mapped = bytes + kHugePageBytes;
    void* raw = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePageBytes - 1) & ~(std::uintptr_t{kHugePageBytes} - 1);
    if (aligned > start)
        ::munmap(raw, aligned - start);
    if (const std::uintptr_t end = start + mapped; end > aligned + bytes)
        ::munmap(reinterpret_cast<void*>(aligned + bytes), end - aligned - bytes);
    adviseHugePages(reinterpret_cast<void*>(aligned), bytes);
    return reinterpret_cast<void*>(aligned);
}

// The regions blocks are carved from: how many blocks of each are live, and
// how far the newest one has been handed out. Few regions exist (one per
// 2 MiB of entries), so a map is cheap; the lock keeps it sound should a
// block ever be released on another thread.
struct Regions {
    std::mutex lock;
    std::unordered_map<std::uintptr_t, std::size_t> live;
    std::uintptr_t current = 0;
    std::size_t used = 0;
};

Regions& regions()
{
    static Regions instance;
    return instance;
}

} // namespace

void adviseHugePages(void* data, std::size_t bytes) noexcept
{
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + kHugePageBytes - 1) & ~(std::uintptr_t{kHugePageBytes} - 1);
    const std::uintptr_t last = (start + bytes) & ~(std::uintptr_t{kHugePageBytes} - 1);
    // Advice only: where the system has no huge pages, small ones serve.
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

void* allocateRegionBlock(std::size_t blockBytes)
{
    Regions& all = regions();
    const std::lock_guard guard(all.lock);
    if (all.current == 0 || all.used + blockBytes > kHugePageBytes) {
        void* region = mapAligned(kHugePageBytes);
        if (!region)
            throw std::bad_alloc();
        all.current = reinterpret_cast<std::uintptr_t>(region);
        all.used = 0;
        all.live[all.current] = 0;
    }
    void* block = reinterpret_cast<void*>(all.current + all.used);
    all.used += blockBytes;
    ++all.live[all.current];
    return block;
}

void releaseRegionBlock(void* block, std::size_t) noexcept
{
    Regions& all = regions();
    const std::lock_guard guard(all.lock);
    const std::uintptr_t region = reinterpret_cast<std::uintptr_t>(block) & ~(std::uintptr_t{kHugePageBytes} - 1);
    const auto found = all.live.find(region);
    if (found == all.live.end() || --found->second > 0)
        return;
    all.live.erase(found);
    if (region == all.current)
        all.current = 0;
    ::munmap(reinterpret_cast<void*>(region), kHugePageBytes);
}

std::size_t regionCount() noexcept
{
    Regions& all = regions();
    const std::lock_guard guard(all.lock);
    return all.live.size();
}

void* allocateLarge(std::size_t bytes)
{
    if (bytes < kHugePageBytes)
        return ::operator new(bytes);
    const std::size_t rounded = (bytes + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
    void* data = mapAligned(rounded);
    if (!data)
        throw std::bad_alloc();
    return data;
}

void releaseLarge(void* data, std::size_t bytes) noexcept
{
    if (bytes < kHugePageBytes) {
        ::operator delete(data);
        return;
    }
    ::munmap(data, (bytes + kHugePageBytes - 1) & ~(kHugePageBytes - 1));
}

} // namespace largememory
