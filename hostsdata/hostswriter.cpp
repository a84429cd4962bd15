// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostswriter.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101;
constexpr std::uint64_t kHighBits = 0x8080808080808080;

bool hasZeroByte(std::uint64_t word)
{
    return ((word - kOnes) & ~word & kHighBits) != 0;
}

// Eight bytes at a time, as the check runs over every byte that is saved.
bool holdsLineBreak(std::string_view field)
{
    const char* at = field.data();
    std::size_t left = field.size();
    for (; left >= 8; at += 8, left -= 8) {
        std::uint64_t eight;
        std::memcpy(&eight, at, 8);
        if (hasZeroByte(eight ^ ('\r' * kOnes)) || hasZeroByte(eight ^ ('\n' * kOnes)))
            return true;
    }
    for (; left > 0; ++at, --left)
        if (*at == '\r' || *at == '\n')
            return true;
    return false;
}

void appendField(std::string& out, std::string_view field)
{
    if (!holdsLineBreak(field)) {
        out.append(field);
        return;
    }
    for (const char c : field)
        out.push_back((c == '\r' || c == '\n') ? ' ' : c);
}

} // namespace

std::string formatHostsFile(std::string_view header, const HostCollection& hosts)
{
    std::size_t expected = header.size() + 4;
    for (const HostEntry& entry : hosts)
        expected += entry.ip().size() + entry.host().size() + entry.comment().size() + 8;

    std::string out;
    out.reserve(expected);
    out.append(header);
    out.append("\r\n");

    bool lineStarted = false;
    bool lineTakesMore = false;
    std::string_view lineAddress;
    int hostnamesOnLine = 0;
    for (const HostEntry& entry : hosts) {
        const bool continuesLine = lineTakesMore && entry.ip() == lineAddress && entry.comment().empty()
            && hostnamesOnLine < kMaxHostnamesPerLine;
        if (continuesLine) {
            out.push_back(' ');
            appendField(out, entry.host());
            ++hostnamesOnLine;
        } else {
            if (lineStarted)
                out.append("\r\n");
            appendField(out, entry.ip());
            out.push_back('\t');
            appendField(out, entry.host());
            lineStarted = true;
            lineTakesMore = true;
            lineAddress = entry.ip();
            hostnamesOnLine = 1;
        }
        if (!entry.comment().empty()) {
            out.append("\t\t# ");
            appendField(out, entry.comment());
            lineTakesMore = false;
        }
    }
    out.append("\r\n");
    return out;
}
