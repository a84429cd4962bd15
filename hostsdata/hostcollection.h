// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "hostentry.h"
#include "hostname.h"

#include "largememory.h"

#include <absl/container/flat_hash_set.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The ordered collection of entries, keyed by hostname without regard to ASCII
// letter case. Insertion order is kept; add always appends and fails on a
// present key. add, lookUp and remove are O(1) on average; iteration is linear.
//
// Removal leaves a hole in the order that is skipped by iteration; the holes
// are squeezed out once they outnumber the live entries, so removal stays
// amortised O(1) without an O(n) shift of the order.
class HostCollection {
public:
    HostCollection();
    HostCollection(const HostCollection&) = delete;
    HostCollection& operator=(const HostCollection&) = delete;

    // Appends the entry under its hostname. Returns false, leaving the
    // collection unchanged, when an entry with an equal key is present.
    bool add(HostEntryRef entry)
    {
        const std::uint32_t hash = hostnameHash(entry->host());
        return add(std::move(entry), hash);
    }

    // Moves from `entry` only when it was added.
    bool add(HostEntryRef&& entry, std::uint32_t hash);
    // Appends the entries in their order, as add() of each in turn would, and
    // gives back those refused for a present key, in their order. For a
    // reading of a whole file: the index is filled in the order of its memory
    // instead of at random, which matters once it outgrows the caches.
    // `hashes`, when given, holds hostnameHash() of each entry's hostname,
    // and `textBytes` the sum of textBytes() of the entries.
    static constexpr std::size_t kUncounted = ~std::size_t{0};
    std::vector<HostEntryRef> addAll(std::vector<HostEntryRef> entries, std::vector<std::uint32_t> hashes = {},
                                     std::size_t textBytes = kUncounted);
    // The entry stored under the key, or a null reference.
    HostEntryRef lookUp(std::string_view host) const;
    bool contains(std::string_view host) const { return static_cast<bool>(lookUp(host)); }
    // Takes the entry stored under the key out; false when there is none.
    bool remove(std::string_view host);
    // The collection becomes empty.
    void reset();

    std::size_t size() const { return slots_.size() - holes_; }
    // The bytes of every entry's address, hostname and comment together:
    // what a writer of the whole file needs room for, without a pass over it.
    std::size_t textBytes() const { return textBytes_; }
    bool empty() const { return size() == 0; }

    // The entry at `position` in collection order, 0 <= position < size(),
    // read in place (a list of 2,000,000 rows needs no copy): O(1) while no
    // entry has been removed since the holes were last squeezed out,
    // O(log holes) otherwise.
    const HostEntry& at(std::size_t position) const;

    class const_iterator {
    public:
        using value_type = HostEntryRef;
        using difference_type = std::ptrdiff_t;
        const_iterator() = default;
        const HostEntry& operator*() const { return **slot_; }
        const HostEntry* operator->() const { return slot_->get(); }
        const_iterator& operator++()
        {
            ++slot_;
            skipHoles();
            return *this;
        }
        const_iterator operator++(int)
        {
            auto before = *this;
            ++*this;
            return before;
        }
        friend bool operator==(const const_iterator& a, const const_iterator& b) { return a.slot_ == b.slot_; }

    private:
        friend class HostCollection;
        using Slot = std::vector<HostEntryRef>::const_iterator;
        const_iterator(Slot slot, Slot end) : slot_(slot), end_(end) { skipHoles(); }
        void skipHoles()
        {
            while (slot_ != end_ && !*slot_)
                ++slot_;
        }
        Slot slot_;
        Slot end_;
    };

    const_iterator begin() const { return {slots_.begin(), slots_.end()}; }
    const_iterator end() const { return {slots_.end(), slots_.end()}; }

private:
    using Position = std::uint32_t;

    // A hostname with its hash already computed, for adding with one probe.
    struct HashedKey {
        std::string_view host;
        std::uint32_t hash;
    };
    // An entry already in slots_, by position, with its hash.
    struct StoredKey {
        Position position;
        std::uint32_t hash;
    };
    struct KeyHash {
        using is_transparent = void;
        const HostCollection* owner;
        std::size_t operator()(const HashedKey& key) const { return key.hash; }
        std::size_t operator()(const StoredKey& key) const { return key.hash; }
        std::size_t operator()(Position position) const { return hostnameHash(owner->slots_[position]->host()); }
    };
    struct KeyEqual {
        using is_transparent = void;
        const HostCollection* owner;
        bool operator()(Position a, Position b) const { return a == b; }
        bool operator()(Position a, const HashedKey& key) const
        {
            return sameHostname(owner->slots_[a]->host(), key.host);
        }
        bool operator()(Position a, const StoredKey& key) const
        {
            if (owner->batchHashes_ && a >= owner->batchBase_ && owner->batchHashes_[a - owner->batchBase_] != key.hash)
                return false;
            return sameHostname(owner->slots_[a]->host(), owner->slots_[key.position]->host());
        }
        template <typename Key>
        bool operator()(const Key& key, Position a) const
        {
            return (*this)(a, key);
        }
    };

    static HashedKey hashedKey(std::string_view host) { return {host, hostnameHash(host)}; }
    static std::size_t textBytesOf(const HostEntry& entry)
    {
        return entry.ip().size() + entry.host().size() + entry.comment().size();
    }
    void squeezeHoles();

    std::vector<HostEntryRef> slots_;
    std::size_t holes_ = 0;
    std::size_t textBytes_ = 0;
    // While addAll() indexes a batch: the hashes of its keys, the first at
    // position batchBase_.
    const std::uint32_t* batchHashes_ = nullptr;
    Position batchBase_ = 0;
    // Where the holes are, in order, for at(); made when first needed.
    mutable std::vector<Position> holePositions_;
    mutable bool holePositionsKnown_ = true;
    // The index stores positions into slots_ only, four bytes a slot: the
    // key's hash is made again from its entry when the index grows, and an
    // entry is visited only when the index's own 7-bit tag of its hash
    // matches. At 2,000,000 entries the index has 4,194,304 slots, so every
    // byte a slot costs 4 MB.
    // On huge pages once it is large (largememory.h).
    absl::flat_hash_set<Position, KeyHash, KeyEqual, largememory::Allocator<Position>> index_;
};
