// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

class HostEntryRef;
class HostEntryBlocks;

// One hostname with its address and comment, as bytes (no re-encoding).
//
// An entry is immutable once made and holds its hostname and comment inline.
// Entries live in reference-counted blocks: one block per entry when made
// one at a time, shared blocks when a reading makes thousands
// (HostEntryBlocks). At 2,000,000 entries a std::string per field, or an
// allocation per entry, would cost several times the memory and most of the
// loading time. In a shared block an address is kept once for the entries
// that follow one another with it (a blocklist has one or two addresses in
// all), and the entry finds its block from its own address: shared blocks
// are aligned to their size. Whoever holds a HostEntryRef (the entry editor)
// keeps the entry valid after the collection has dropped it. Counts are not
// atomic: entries belong to the one user-interface thread.
class HostEntry {
public:
    // Throws std::length_error when a field is 2 GiB or longer.
    static HostEntryRef create(std::string_view ip, std::string_view host, std::string_view comment);

    std::string_view ip() const { return {blockStart() + ipOffset_, ipLength_}; }
    std::string_view host() const { return {text() + inlineIpLength(), hostLength_ & kLengthMask}; }
    std::string_view comment() const
    {
        return {text() + inlineIpLength() + (hostLength_ & kLengthMask), commentLength_ & kLengthMask};
    }

    // The field called "ip", "host" or "comment"; empty for any other name.
    std::string_view field(std::string_view name) const;

    HostEntry(const HostEntry&) = delete;
    HostEntry& operator=(const HostEntry&) = delete;

    struct Block; // the reference-counted memory that holds entries

private:
    friend class HostEntryRef;
    friend class HostEntryBlocks;

    // Field lengths are below 2 GiB: the top bit of a length word is a flag.
    static constexpr std::uint32_t kFlag = 0x80000000u;
    static constexpr std::uint32_t kLengthMask = ~kFlag;

    HostEntry(std::uint32_t ipOffset, std::uint32_t ipLength, std::uint32_t hostLength, std::uint32_t commentLength)
        : ipOffset_(ipOffset)
        , ipLength_(ipLength)
        , hostLength_(hostLength)
        , commentLength_(commentLength)
    {
    }

    static std::size_t footprint(std::size_t ipLength, std::size_t hostLength, std::size_t commentLength);
    // Makes an entry at `offset` in `block`; its address is its own, inline,
    // unless `sharedIpOffset` names where in the block the same address is.
    static HostEntry* construct(Block* block, std::size_t offset, std::string_view ip, std::string_view host,
                                std::string_view comment, bool standalone, std::uint32_t sharedIpOffset = 0);
    Block* block() const;
    const char* blockStart() const { return reinterpret_cast<const char*>(block()); }
    bool ipInline() const { return (hostLength_ & kFlag) == 0; }
    std::uint32_t inlineIpLength() const { return ipInline() ? ipLength_ : 0; }

    const char* text() const { return reinterpret_cast<const char*>(this + 1); }
    char* text() { return reinterpret_cast<char*>(this + 1); }

    std::uint32_t ipOffset_; // bytes from the block's start to the address text
    std::uint32_t ipLength_;
    std::uint32_t hostLength_;    // flag: the address is elsewhere in the block
    std::uint32_t commentLength_; // flag: the entry's block is its own, right before it
};

// Owning handle to a HostEntry; null when default-constructed.
class HostEntryRef {
public:
    HostEntryRef() noexcept = default;
    HostEntryRef(const HostEntryRef& other) noexcept : entry_(other.entry_) { retain(); }
    HostEntryRef(HostEntryRef&& other) noexcept : entry_(std::exchange(other.entry_, nullptr)) {}
    HostEntryRef& operator=(HostEntryRef other) noexcept
    {
        std::swap(entry_, other.entry_);
        return *this;
    }
    ~HostEntryRef()
    {
        if (entry_)
            release();
    }

    const HostEntry& operator*() const { return *entry_; }
    const HostEntry* operator->() const { return entry_; }
    const HostEntry* get() const { return entry_; }
    explicit operator bool() const { return entry_ != nullptr; }
    friend bool operator==(const HostEntryRef& a, const HostEntryRef& b) { return a.entry_ == b.entry_; }

private:
    friend class HostEntry;
    friend class HostEntryBlocks;
    explicit HostEntryRef(HostEntry* entry) noexcept : entry_(entry) { retain(); }
    void retain() const noexcept;
    void release() noexcept;

    HostEntry* entry_ = nullptr;
};

// Makes many entries into shared blocks, for a reading of a whole file.
class HostEntryBlocks {
public:
    HostEntryBlocks() = default;
    HostEntryBlocks(const HostEntryBlocks&) = delete;
    HostEntryBlocks& operator=(const HostEntryBlocks&) = delete;
    ~HostEntryBlocks();

    // As HostEntry::create.
    HostEntryRef create(std::string_view ip, std::string_view host, std::string_view comment);

private:
    // Blocks beyond the first (256 KiB of entries) come from huge-page regions.
    static constexpr std::size_t kHeapBlocks = 1;

    HostEntry::Block* block_ = nullptr;
    std::size_t blocksMade_ = 0;
    std::size_t used_ = 0;
    // The address of the entry made last in this block, for the next one.
    std::uint32_t lastIpOffset_ = 0;
    std::string_view lastIp_;
};
