// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostcollection.h"

#include <algorithm>
#include <bit>
#include <iterator>
#include <limits>
#include <stdexcept>

namespace {

// Squeezing holes costs O(n); doing it only past this many keeps small
// collections from churning.
constexpr std::size_t kMinHolesToSqueeze = 64;

} // namespace

HostCollection::HostCollection() : index_(0, KeyHash{this}, KeyEqual{this})
{
}

bool HostCollection::add(HostEntryRef&& entry, std::uint32_t hash)
{
    if (slots_.size() >= std::numeric_limits<Position>::max())
        throw std::length_error("too many hosts entries");
    // Room first, so that nothing can throw between indexing and storing.
    if (slots_.size() == slots_.capacity())
        slots_.reserve(slots_.size() * 2 + 16);
    const auto position = static_cast<Position>(slots_.size());
    bool added = false;
    index_.lazy_emplace(HashedKey{entry->host(), hash}, [&](const auto& construct) {
        construct(position);
        added = true;
    });
    if (added) {
        textBytes_ += textBytesOf(*entry);
        slots_.push_back(std::move(entry));
    }
    return added;
}

std::vector<HostEntryRef> HostCollection::addAll(std::vector<HostEntryRef> entries, std::vector<std::uint32_t> hashes,
                                                 std::size_t textBytes)
{
    const std::size_t count = entries.size();
    if (slots_.size() + count >= std::numeric_limits<Position>::max())
        throw std::length_error("too many hosts entries");
    index_.reserve(size() + count);
    if (hashes.size() != count) {
        hashes.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            hashes[i] = hostnameHash(entries[i]->host());
    }

    // The index places a key by the hash bits above its lowest seven. A
    // stable counting sort on the top bits of that place visits the index
    // page by page while keeping file order among keys of one bucket, and
    // equal keys always share a bucket: the first of them is still the one
    // kept. Only the speed depends on how the index places keys.
    const int indexBits = std::bit_width(index_.capacity());
    const int bucketBits = std::min(indexBits, 12);
    const int shift = 7 + indexBits - bucketBits;
    const std::uint64_t bucketMask = (std::uint64_t{1} << bucketBits) - 1;
    auto bucketOf = [&](std::uint32_t hash) {
        return static_cast<std::size_t>((std::uint64_t{hash} >> shift) & bucketMask);
    };
    std::vector<std::uint32_t> starts((std::size_t{1} << bucketBits) + 1, 0);
    for (const std::uint32_t hash : hashes)
        ++starts[bucketOf(hash) + 1];
    for (std::size_t bucket = 1; bucket < starts.size(); ++bucket)
        starts[bucket] += starts[bucket - 1];
    const auto base = static_cast<Position>(slots_.size());
    std::vector<Position, largememory::Allocator<Position>> order(count);
    for (std::size_t i = 0; i < count; ++i)
        order[starts[bucketOf(hashes[i])]++] = base + static_cast<Position>(i);

    if (slots_.empty())
        slots_ = std::move(entries);
    else
        slots_.insert(slots_.end(), std::make_move_iterator(entries.begin()), std::make_move_iterator(entries.end()));
    std::vector<Position> refused;
    // A key whose whole hash differs from a stored one of this batch is
    // told apart without reading either entry (at random, out of the
    // cache). The hashes are read at random too: each is fetched some keys
    // ahead, and the index's group for it a few keys after that.
    batchHashes_ = hashes.data();
    batchBase_ = base;
    constexpr std::size_t kHashAhead = 16;
    constexpr std::size_t kGroupAhead = 8;
    const auto keyAt = [&](std::size_t i) { return StoredKey{order[i], hashes[order[i] - base]}; };
    for (std::size_t i = 0; i < count; ++i) {
        if (i + kHashAhead < count)
            __builtin_prefetch(&hashes[order[i + kHashAhead] - base]);
        if (i + kGroupAhead < count)
            index_.prefetch(keyAt(i + kGroupAhead));
        const StoredKey key = keyAt(i);
        bool added = false;
        index_.lazy_emplace(key, [&](const auto& construct) {
            construct(key.position);
            added = true;
        });
        if (!added)
            refused.push_back(key.position);
    }
    batchHashes_ = nullptr;
    order = {};
    hashes = {};
    std::sort(refused.begin(), refused.end());
    std::vector<HostEntryRef> duplicates;
    duplicates.reserve(refused.size());
    if (textBytes == kUncounted) {
        textBytes = 0;
        for (std::size_t i = 0; i < count; ++i)
            textBytes += textBytesOf(*slots_[base + i]);
    }
    textBytes_ += textBytes;
    for (const Position position : refused) {
        textBytes_ -= textBytesOf(*slots_[position]);
        duplicates.push_back(std::move(slots_[position]));
    }
    holes_ += refused.size();
    holePositionsKnown_ = holePositionsKnown_ && refused.empty();
    return duplicates;
}

HostEntryRef HostCollection::lookUp(std::string_view host) const
{
    const auto found = index_.find(hashedKey(host));
    return found == index_.end() ? HostEntryRef() : slots_[*found];
}

bool HostCollection::remove(std::string_view host)
{
    const auto found = index_.find(hashedKey(host));
    if (found == index_.end())
        return false;
    const Position position = *found;
    index_.erase(found);
    textBytes_ -= textBytesOf(*slots_[position]);
    slots_[position] = HostEntryRef();
    ++holes_;
    holePositionsKnown_ = false;
    if (holes_ >= kMinHolesToSqueeze && holes_ > size())
        squeezeHoles();
    return true;
}

void HostCollection::reset()
{
    index_.clear();
    slots_.clear();
    slots_.shrink_to_fit();
    textBytes_ = 0;
    holes_ = 0;
    holePositions_.clear();
    holePositionsKnown_ = true;
}

void HostCollection::squeezeHoles()
{
    slots_.erase(std::remove(slots_.begin(), slots_.end(), HostEntryRef()), slots_.end());
    holes_ = 0;
    holePositions_.clear();
    holePositionsKnown_ = true;
    index_.clear();
    index_.reserve(slots_.size());
    for (Position position = 0; position < slots_.size(); ++position)
        index_.insert(position);
}

const HostEntry& HostCollection::at(std::size_t position) const
{
    if (holes_ == 0)
        return *slots_[position];
    if (!holePositionsKnown_) {
        holePositions_.clear();
        holePositions_.reserve(holes_);
        for (std::size_t slot = 0; slot < slots_.size(); ++slot)
            if (!slots_[slot])
                holePositions_.push_back(static_cast<Position>(slot));
        holePositionsKnown_ = true;
    }
    // Hole j has (its slot - j) live entries before it, which never falls
    // as j grows: the live entry at `position` has every hole with at most
    // `position` live entries before it ahead of it.
    const auto holesAhead = std::partition_point(
        holePositions_.begin(), holePositions_.end(), [&](const Position& hole) {
            return std::size_t{hole} - static_cast<std::size_t>(&hole - holePositions_.data()) <= position;
        });
    return *slots_[position + static_cast<std::size_t>(holesAhead - holePositions_.begin())];
}
