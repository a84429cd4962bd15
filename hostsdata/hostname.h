// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a hostname and an address may be in an entry, and when two hostnames
// are the same: the one place both windows and the collection ask.

#include "bytewords.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// Hostnames are the same without regard to ASCII letter case; other bytes
// compare exactly.
bool sameHostname(std::string_view a, std::string_view b);
// The hostname with ASCII capitals turned into small letters; other bytes unchanged.
std::string asciiLower(std::string_view text);

// Whether an entry with this hostname and address can be written as one
// line that the system reads back as it was meant: the system reads
// everything after a '#' as a comment, so the entries written after it on
// the same line would be lost.
bool fitsOnHostsLine(std::string_view host, std::string_view address);
// What the windows say when fitsOnHostsLine refuses an entry.
inline constexpr const char* kHashInEntryMessage = "A hostname or IP address cannot contain '#'.";

namespace hostname_detail {

// Chosen at random per run, so that a crafted hosts file cannot make its
// hostnames collide and the loading quadratic.
extern const std::uint64_t kHashSeed;

// Lower-cases the ASCII capitals of eight bytes at once. Bytes of 0x80 and
// above are left alone.
inline std::uint64_t asciiLowerEightBytes(std::uint64_t bytes)
{
    using bytewords::kHighBits;
    using bytewords::kOnes;
    const std::uint64_t low7 = bytes & ~kHighBits;
    const std::uint64_t atLeastA = low7 + (0x80 - 'A') * kOnes;
    const std::uint64_t aboveZ = low7 + (0x80 - 'Z' - 1) * kOnes;
    const std::uint64_t capitals = (atLeastA ^ aboveZ) & ~bytes & kHighBits;
    return bytes | (capitals >> 2);
}

inline std::uint64_t mix(std::uint64_t value)
{
    value ^= value >> 33;
    value *= 0xff51afd7ed558ccdULL;
    value ^= value >> 33;
    value *= 0xc4ceb9fe1a85ec53ULL;
    value ^= value >> 33;
    return value;
}

} // namespace hostname_detail

// A hash of the hostname's lower-case form, equal for hostnames that are
// the same, taken eight bytes at a time. Abseil has no case-insensitive
// hash, and folding a copy first would double the cost of the hash, which is
// most of the cost of loading a large file: it is inline for the reader,
// which hashes every hostname once.
inline std::uint32_t hostnameHash(std::string_view host)
{
    using namespace hostname_detail;
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
