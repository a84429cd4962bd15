// SPDX-License-Identifier: GPL-3.0-or-later
#include "filesnapshot.h"

// Inlined: a digest over every byte of a large file is worth the inlining,
// and it needs no library to link on any system.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace fileaccess {

struct SnapshotDigest::State {
    XXH3_state_t xxh3;
};

SnapshotDigest::SnapshotDigest() : state_(std::make_unique<State>())
{
    XXH3_64bits_reset(&state_->xxh3);
}

SnapshotDigest::~SnapshotDigest() = default;

void SnapshotDigest::feed(std::string_view bytes)
{
    XXH3_64bits_update(&state_->xxh3, bytes.data(), bytes.size());
    size_ += bytes.size();
}

FileSnapshot SnapshotDigest::finish() const
{
    return {FileSnapshot::State::Present, size_, XXH3_64bits_digest(&state_->xxh3)};
}

FileSnapshot FileSnapshot::of(std::string_view bytes)
{
    return {State::Present, bytes.size(), XXH3_64bits(bytes.data(), bytes.size())};
}

} // namespace fileaccess
