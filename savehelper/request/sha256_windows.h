// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace savehelper {

// SHA-256 of bytes fed in pieces, by the system's BCrypt (loaded from the
// system folder when first used). Both ends of the Windows hand-over use it:
// the editor for the request it stages and the helper program it starts,
// the helper for the request it reads.
class Sha256 {
public:
    Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    ~Sha256();

    // False when the system cannot hash (then nothing it gives can match).
    bool valid() const { return hash_ != nullptr; }
    void feed(std::string_view bytes);
    // The digest as 64 lower-case hexadecimal digits; empty when not valid.
    std::string finishHex();

private:
    void* algorithm_ = nullptr;
    void* hash_ = nullptr;
    bool failed_ = false;
};

// The SHA-256 of everything `file` holds from its start, as finishHex gives
// it; empty when it cannot be read.
std::string sha256OfFile(HANDLE file);

} // namespace savehelper
