// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostentry.h"

#include "largememory.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

struct HostEntry::Block {
    std::uint32_t references = 0;
    // A shared block from a huge-page region (largememory.h), not the heap.
    bool inRegion = false;
};

namespace {

constexpr std::size_t kEntryAlignment = alignof(HostEntry);
constexpr std::size_t kSharedBlockSize = 256 * 1024;

std::size_t alignUp(std::size_t bytes)
{
    return (bytes + kEntryAlignment - 1) & ~(kEntryAlignment - 1);
}

std::uint32_t checkedLength(std::string_view text)
{
    if (text.size() >= std::numeric_limits<std::uint32_t>::max() / 2)
        throw std::length_error("hosts entry field of 2 GiB or more");
    return static_cast<std::uint32_t>(text.size());
}

// A shared block is aligned to its size, so that an entry finds it from its
// own address; a block of one entry lies right before it. The blocks of a
// large reading come from huge-page regions; a small file's few blocks (the
// first ones of every reading) from the heap, so that it maps no region.
HostEntry::Block* allocateSharedBlock(bool inRegion)
{
    if (inRegion)
        return new (largememory::allocateRegionBlock(kSharedBlockSize)) HostEntry::Block{0, true};
    return new (::operator new(kSharedBlockSize, std::align_val_t{kSharedBlockSize})) HostEntry::Block;
}

HostEntry::Block* allocateOwnBlock(std::size_t bytes)
{
    return new (::operator new(bytes)) HostEntry::Block;
}

constexpr std::size_t kBlockHeader = (sizeof(HostEntry::Block) + alignof(HostEntry) - 1) & ~(alignof(HostEntry) - 1);

void releaseBlock(HostEntry::Block* block, bool shared) noexcept
{
    if (--block->references == 0) {
        const bool inRegion = block->inRegion;
        block->~Block();
        if (inRegion)
            largememory::releaseRegionBlock(block, kSharedBlockSize);
        else if (shared)
            ::operator delete(static_cast<void*>(block), std::align_val_t{kSharedBlockSize});
        else
            ::operator delete(static_cast<void*>(block));
    }
}

// Equal bytes, compared in registers for an address's length: a call to
// memcmp for every entry of a reading cost more than the rest of the test.
bool sameBytes(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    std::size_t i = 0;
    for (; i + 8 <= a.size(); i += 8) {
        std::uint64_t x;
        std::uint64_t y;
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x != y)
            return false;
    }
    for (; i < a.size(); ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

} // namespace

std::size_t HostEntry::footprint(std::size_t ipLength, std::size_t hostLength, std::size_t commentLength)
{
    return alignUp(sizeof(HostEntry) + ipLength + hostLength + commentLength);
}

HostEntry* HostEntry::construct(Block* block, std::size_t offset, std::string_view ip, std::string_view host,
                                std::string_view comment, bool standalone, std::uint32_t sharedIpOffset)
{
    const bool ipShared = sharedIpOffset != 0;
    const auto textOffset = static_cast<std::uint32_t>(offset + sizeof(HostEntry));
    auto* entry = new (reinterpret_cast<char*>(block) + offset)
        HostEntry(ipShared ? sharedIpOffset : textOffset, static_cast<std::uint32_t>(ip.size()),
                  static_cast<std::uint32_t>(host.size()) | (ipShared ? kFlag : 0),
                  static_cast<std::uint32_t>(comment.size()) | (standalone ? kFlag : 0));
    char* out = entry->text();
    // memcpy with a null source is undefined even for zero bytes.
    if (!ipShared && !ip.empty()) {
        std::memcpy(out, ip.data(), ip.size());
        out += ip.size();
    }
    if (!host.empty())
        std::memcpy(out, host.data(), host.size());
    if (!comment.empty())
        std::memcpy(out + host.size(), comment.data(), comment.size());
    return entry;
}

HostEntry::Block* HostEntry::block() const
{
    const auto at = reinterpret_cast<std::uintptr_t>(this);
    if (commentLength_ & kFlag)
        return reinterpret_cast<Block*>(at - kBlockHeader);
    return reinterpret_cast<Block*>(at & ~std::uintptr_t{kSharedBlockSize - 1});
}

HostEntryRef HostEntry::create(std::string_view ip, std::string_view host, std::string_view comment)
{
    const std::size_t size = footprint(checkedLength(ip), checkedLength(host), checkedLength(comment));
    Block* block = allocateOwnBlock(kBlockHeader + size);
    return HostEntryRef(construct(block, kBlockHeader, ip, host, comment, true));
}

std::string_view HostEntry::field(std::string_view name) const
{
    if (name == "ip")
        return ip();
    if (name == "host")
        return host();
    if (name == "comment")
        return comment();
    return {};
}

void HostEntryRef::retain() const noexcept
{
    if (entry_)
        ++entry_->block()->references;
}

void HostEntryRef::release() noexcept
{
    if (entry_)
        releaseBlock(entry_->block(), !(entry_->commentLength_ & HostEntry::kFlag));
    entry_ = nullptr;
}

HostEntryBlocks::~HostEntryBlocks()
{
    if (block_)
        releaseBlock(block_, true);
}

HostEntryRef HostEntryBlocks::create(std::string_view ip, std::string_view host, std::string_view comment)
{
    const bool sameIp = block_ && sameBytes(ip, lastIp_);
    const std::size_t size = HostEntry::footprint(sameIp ? 0 : checkedLength(ip), checkedLength(host),
                                                  checkedLength(comment));
    if (!block_ || used_ + size > kSharedBlockSize) {
        if (HostEntry::footprint(ip.size(), host.size(), comment.size()) > kSharedBlockSize / 4)
            return HostEntry::create(ip, host, comment);
        lastIp_ = {}; // an address is shared within its block only
        if (block_)
            releaseBlock(block_, true);
        block_ = allocateSharedBlock(++blocksMade_ > kHeapBlocks);
        ++block_->references; // held while this maker fills it
        used_ = kBlockHeader;
        return create(ip, host, comment);
    }
    HostEntry* entry = HostEntry::construct(block_, used_, ip, host, comment, false, sameIp ? lastIpOffset_ : 0);
    used_ += size;
    lastIpOffset_ = entry->ipOffset_;
    lastIp_ = entry->ip();
    return HostEntryRef(entry);
}
