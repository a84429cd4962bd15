// SPDX-License-Identifier: GPL-3.0-or-later
#include "largememory.h"

// Large pages on Windows need SeLockMemoryPrivilege, which a user does not
// hold: plain heap memory.
namespace largememory {

void adviseHugePages(void*, std::size_t) noexcept
{
}

void* allocateRegionBlock(std::size_t blockBytes)
{
    return ::operator new(blockBytes, std::align_val_t{blockBytes});
}

void releaseRegionBlock(void* block, std::size_t blockBytes) noexcept
{
    ::operator delete(block, std::align_val_t{blockBytes});
}

std::size_t regionCount() noexcept
{
    return 0;
}

void* allocateLarge(std::size_t bytes)
{
    return ::operator new(bytes);
}

void releaseLarge(void* data, std::size_t) noexcept
{
    ::operator delete(data);
}

} // namespace largememory
