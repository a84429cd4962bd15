// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostcollection.h"

#include <absl/strings/match.h>

#include <algorithm>
#include <bit>
#include <iterator>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>

namespace {

char asciiLowerChar(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Lower-cases the ASCII capitals of eight bytes at once. Bytes of 0x80 and
// above are left alone.
std::uint64_t asciiLowerEightBytes(std::uint64_t bytes)
{
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHighBits = 0x8080808080808080;
    const std::uint64_t low7 = bytes & ~kHighBits;
    const std::uint64_t atLeastA = low7 + (0x80 - 'A') * kOnes;
    const std::uint64_t aboveZ = low7 + (0x80 - 'Z' - 1) * kOnes;
    const std::uint64_t capitals = (atLeastA ^ aboveZ) & ~bytes & kHighBits;
    return bytes | (capitals >> 2);
}

std::uint64_t mix(std::uint64_t value)
{
    value ^= value >> 33;
    value *= 0xff51afd7ed558ccdULL;
    value ^= value >> 33;
    value *= 0xc4ceb9fe1a85ec53ULL;
    value ^= value >> 33;
    return value;
}

// Chosen at random per run, so that a crafted hosts file cannot make its
// hostnames collide and the loading quadratic.
const std::uint64_t kHashSeed = [] {
    std::random_device random;
    return (std::uint64_t{random()} << 32) ^ random();
}();

// Hashes the lower-case form of a hostname eight bytes at a time. Abseil has
// no case-insensitive hash, and folding a copy first would double the cost of
// the hash, which is most of the cost of loading a large file.
std::uint32_t hashFolded(std::string_view host)
{
    std::uint64_t state = kHashSeed ^ (host.size() * 0x9E3779B97F4A7C15ULL);
    const char* at = host.data();
    std::size_t left = host.size();
    for (; left >= 8; at += 8, left -= 8) {
        std::uint64_t eight;
        std::memcpy(&eight, at, 8);
        state = (state ^ asciiLowerEightBytes(eight)) * 0x9E3779B97F4A7C15ULL;
        state ^= state >> 29;
    }
    if (left > 0) {
        // The last bytes are read as one word ending at the string's end and
        // shifted, or gathered in a register when the string is shorter than
        // a word: a short copy to memory and a word load from it would stall.
        std::uint64_t tail = 0;
        if (host.size() >= 8) {
            std::memcpy(&tail, host.data() + host.size() - 8, 8);
            tail >>= 8 * (8 - left);
        } else {
            for (std::size_t i = 0; i < left; ++i)
                tail |= std::uint64_t{static_cast<unsigned char>(at[i])} << (8 * i);
        }
        state = (state ^ asciiLowerEightBytes(tail)) * 0x9E3779B97F4A7C15ULL;
    }
    return static_cast<std::uint32_t>(mix(state));
}

// Squeezing holes costs O(n); doing it only past this many keeps small
// collections from churning.
constexpr std::size_t kMinHolesToSqueeze = 64;

} // namespace

bool sameHostname(std::string_view a, std::string_view b)
{
    // Debian's Abseil has its own string_view type.
    return absl::EqualsIgnoreCase(absl::string_view(a.data(), a.size()), absl::string_view(b.data(), b.size()));
}

std::string asciiLower(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), asciiLowerChar);
    return lower;
}

std::uint32_t HostCollection::keyHash(std::string_view host)
{
    return hashFolded(host);
}

HostCollection::HostCollection()
    : index_(0, KeyHash{this}, KeyEqual{this})
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
    if (added)
        slots_.push_back(std::move(entry));
    return added;
}

std::vector<HostEntryRef> HostCollection::addAll(std::vector<HostEntryRef> entries, std::vector<std::uint32_t> hashes)
{
    const std::size_t count = entries.size();
    if (slots_.size() + count >= std::numeric_limits<Position>::max())
        throw std::length_error("too many hosts entries");
    index_.reserve(size() + count);
    if (hashes.size() != count) {
        hashes.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            hashes[i] = keyHash(entries[i]->host());
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
    auto bucketOf = [&](std::uint32_t hash) { return static_cast<std::size_t>((std::uint64_t{hash} >> shift) & bucketMask); };
    std::vector<std::uint32_t> starts((std::size_t{1} << bucketBits) + 1, 0);
    for (const std::uint32_t hash : hashes)
        ++starts[bucketOf(hash) + 1];
    for (std::size_t bucket = 1; bucket < starts.size(); ++bucket)
        starts[bucket] += starts[bucket - 1];
    const auto base = static_cast<Position>(slots_.size());
    std::vector<Position> order(count);
    for (std::size_t i = 0; i < count; ++i)
        order[starts[bucketOf(hashes[i])]++] = base + static_cast<Position>(i);

    if (slots_.empty())
        slots_ = std::move(entries);
    else
        slots_.insert(slots_.end(), std::make_move_iterator(entries.begin()), std::make_move_iterator(entries.end()));
    std::vector<Position> refused;
    for (const Position position : order) {
        bool added = false;
        index_.lazy_emplace(StoredKey{position, hashes[position - base]}, [&](const auto& construct) {
            construct(position);
            added = true;
        });
        if (!added)
            refused.push_back(position);
    }
    order = {};
    hashes = {};
    std::sort(refused.begin(), refused.end());
    std::vector<HostEntryRef> duplicates;
    duplicates.reserve(refused.size());
    for (const Position position : refused)
        duplicates.push_back(std::move(slots_[position]));
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
