// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Eight bytes of text at a time in one 64-bit word, for the loops that run
// over every byte of a hosts file.

#include <cstdint>

namespace bytewords {

inline constexpr std::uint64_t kOnes = 0x0101010101010101;
inline constexpr std::uint64_t kHighBits = 0x8080808080808080;

// The high bit of each byte of `word` that equals `c`. Above the lowest such
// byte a borrow may set more, so only the lowest is exact; any set bit
// means at least one.
constexpr std::uint64_t bytesEqualTo(std::uint64_t word, char c)
{
    const std::uint64_t x = word ^ (static_cast<unsigned char>(c) * kOnes);
    return (x - kOnes) & ~x & kHighBits;
}

} // namespace bytewords
