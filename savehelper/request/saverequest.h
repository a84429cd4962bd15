// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The request by which the editor, running as the user, has the save helper
// write the system's hosts file with administrator rights. Both ends include
// this header: the helper (no Qt) and the editor.
//
// Contract:
// - The helper writes one file only, the system's hosts file, whose path it
//   computes itself; nothing in the request names a file.
// - It reads the whole request before it touches anything, and refuses it
//   (naming why) unless it is exactly as below: the known marker and
//   version, a known state, no size or digest for a missing file, a content
//   length of at most kMaxContentBytes, and exactly that much content.
// - It saves only while the file is still what the editor saw (state, size
//   and digest of FileSnapshot), so that a change made by another program
//   after the editor read the file is never overwritten unasked.
//
// On the helper's standard input, all integers little-endian:
//   8 bytes   "TSLYSAVE"
//   u32       protocol version (1)
//   u32       what the editor saw of the file: 0 missing, 1 present
//   u64       its size in bytes
//   u64       its digest (FileSnapshot::digest)
//   u64       length of the new content, at most kMaxContentBytes
//   ...       the new content, exactly that long, then the end of the input
// On its standard output one line: "saved", or "error: " and the reason.

#include "filesnapshot.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace savehelper {

using fileaccess::FileSnapshot;

inline constexpr std::string_view kMagic = "TSLYSAVE";
inline constexpr std::uint32_t kVersion = 1;
inline constexpr std::size_t kHeaderBytes = 40;
inline constexpr std::uint64_t kMaxContentBytes = std::uint64_t{256} << 20;
inline constexpr std::string_view kSavedLine = "saved";
inline constexpr std::string_view kErrorPrefix = "error: ";

// The header of a request; the content follows it.
std::string encodeHeader(const FileSnapshot& expected, std::uint64_t contentLength);

struct Request {
    FileSnapshot expected;
    std::string content;
};

// Reads a whole request through `read` (which fills up to `size` bytes and
// returns how many, 0 at the end, or -1 on an error). Returns an empty string
// when the request is complete and well formed, otherwise why it is refused.
// Nothing but the header is held before the length has been checked.
std::string readRequest(const std::function<long long(char* buffer, std::size_t size)>& read, Request& request);

} // namespace savehelper
