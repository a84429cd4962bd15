// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace fileaccess {

// What a file held when it was looked at: enough to tell later whether
// another program has changed it since. The digest (XXH3, 64 bits) is the
// same in every process and on every system, so that another process (the
// save helper) can check a snapshot taken here.
struct FileSnapshot {
    enum class State { Missing, Present, Unreadable };
    State state = State::Missing;
    std::uint64_t size = 0;
    std::uint64_t digest = 0;

    static FileSnapshot of(std::string_view bytes);
    friend bool operator==(const FileSnapshot&, const FileSnapshot&) = default;
};

// The digest of bytes fed in chunks; equal to FileSnapshot::of their whole.
class SnapshotDigest {
public:
    SnapshotDigest();
    SnapshotDigest(const SnapshotDigest&) = delete;
    SnapshotDigest& operator=(const SnapshotDigest&) = delete;
    ~SnapshotDigest();

    void feed(std::string_view bytes);
    FileSnapshot finish() const;

private:
    struct State;
    std::unique_ptr<State> state_;
    std::uint64_t size_ = 0;
};

} // namespace fileaccess
