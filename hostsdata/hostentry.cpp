// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostentry.h"

#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

struct HostEntry::Block {
    std::size_t references = 0;
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

HostEntry::Block* allocateBlock(std::size_t bytes)
{
    return new (::operator new(bytes)) HostEntry::Block;
}

void releaseBlock(HostEntry::Block* block) noexcept
{
    if (--block->references == 0) {
        block->~Block();
        ::operator delete(static_cast<void*>(block));
    }
}

} // namespace

std::size_t HostEntry::footprint(std::size_t ipLength, std::size_t hostLength, std::size_t commentLength)
{
    return alignUp(sizeof(HostEntry) + ipLength + hostLength + commentLength);
}

HostEntry* HostEntry::construct(Block* block, std::size_t offset, std::string_view ip, std::string_view host,
                                std::string_view comment)
{
    auto* entry = new (reinterpret_cast<char*>(block) + offset)
        HostEntry(static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(ip.size()),
                  static_cast<std::uint32_t>(host.size()), static_cast<std::uint32_t>(comment.size()));
    char* out = entry->text();
    // memcpy with a null source is undefined even for zero bytes.
    if (!ip.empty())
        std::memcpy(out, ip.data(), ip.size());
    if (!host.empty())
        std::memcpy(out + ip.size(), host.data(), host.size());
    if (!comment.empty())
        std::memcpy(out + ip.size() + host.size(), comment.data(), comment.size());
    return entry;
}

HostEntry::Block* HostEntry::block() const
{
    return reinterpret_cast<Block*>(const_cast<char*>(reinterpret_cast<const char*>(this)) - blockOffset_);
}

HostEntryRef HostEntry::create(std::string_view ip, std::string_view host, std::string_view comment)
{
    const std::size_t size = footprint(checkedLength(ip), checkedLength(host), checkedLength(comment));
    const std::size_t offset = alignUp(sizeof(Block));
    Block* block = allocateBlock(offset + size);
    return HostEntryRef(construct(block, offset, ip, host, comment));
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
        releaseBlock(entry_->block());
    entry_ = nullptr;
}

HostEntryBlocks::~HostEntryBlocks()
{
    if (block_)
        releaseBlock(block_);
}

HostEntryRef HostEntryBlocks::create(std::string_view ip, std::string_view host, std::string_view comment)
{
    const std::size_t size =
        HostEntry::footprint(checkedLength(ip), checkedLength(host), checkedLength(comment));
    if (!block_ || used_ + size > capacity_) {
        if (size > kSharedBlockSize / 4)
            return HostEntry::create(ip, host, comment);
        if (block_)
            releaseBlock(block_);
        block_ = allocateBlock(kSharedBlockSize);
        ++block_->references; // held while this maker fills it
        used_ = alignUp(sizeof(HostEntry::Block));
        capacity_ = kSharedBlockSize;
    }
    HostEntry* entry = HostEntry::construct(block_, used_, ip, host, comment);
    used_ += size;
    return HostEntryRef(entry);
}
