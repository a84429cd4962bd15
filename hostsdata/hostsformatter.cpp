// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostsformatter.h"

#include "bytewords.h"
#include "largememory.h"

#include <cstdint>
#include <cstring>

namespace {

// Eight bytes at a time, as the check runs over every byte that is saved.
bool holdsLineBreak(std::string_view field)
{
    const char* at = field.data();
    std::size_t left = field.size();
    for (; left >= 8; at += 8, left -= 8) {
        std::uint64_t eight;
        std::memcpy(&eight, at, 8);
        if ((bytewords::bytesEqualTo(eight, '\r') | bytewords::bytesEqualTo(eight, '\n')) != 0)
            return true;
    }
    for (; left > 0; ++at, --left)
        if (*at == '\r' || *at == '\n')
            return true;
    return false;
}

// The same address: most often the very bytes of the line before (a block
// keeps one address for the entries that share it).
bool sameAddress(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && (a.data() == b.data() || a == b);
}

// Writes the file into `buffer`, used as plain storage from its start: when
// the next entry would not fit, or `pieceBytes` or more are in it, what it
// holds is handed to `flush` and it starts over (a field larger than the
// buffer grows it). Returns how much of it the end of the file took, not
// yet flushed.
template <typename Flush>
std::size_t formatInto(std::string& buffer, std::size_t pieceBytes, std::string_view header,
                       const HostCollection& hosts, Flush&& flush)
{
    std::size_t used = 0;
    auto makeRoom = [&](std::size_t need) {
        if (used + need <= buffer.size())
            return;
        if (used > 0)
            flush(std::string_view(buffer.data(), used));
        used = 0;
        if (need > buffer.size())
            buffer.resize(need);
    };
    auto put = [&](std::string_view text) {
        std::memcpy(buffer.data() + used, text.data(), text.size());
        used += text.size();
    };
    // CR and LF become blanks: no field can break a line or inject one.
    auto putField = [&](std::string_view field) {
        char* const at = buffer.data() + used;
        put(field);
        if (holdsLineBreak(field))
            for (std::size_t i = 0; i < field.size(); ++i)
                if (at[i] == '\r' || at[i] == '\n')
                    at[i] = ' ';
    };

    makeRoom(header.size() + 2);
    put(header);
    put("\r\n");
    bool lineStarted = false;
    bool lineTakesMore = false;
    std::string_view lineAddress;
    int hostnamesOnLine = 0;
    for (const HostEntry& entry : hosts) {
        makeRoom(entry.ip().size() + entry.host().size() + entry.comment().size() + 8);
        const bool continuesLine = lineTakesMore && sameAddress(entry.ip(), lineAddress) && entry.comment().empty()
            && hostnamesOnLine < kMaxHostnamesPerLine;
        if (continuesLine) {
            put(" ");
            putField(entry.host());
            ++hostnamesOnLine;
        } else {
            if (lineStarted)
                put("\r\n");
            putField(entry.ip());
            put("\t");
            putField(entry.host());
            lineStarted = true;
            lineTakesMore = true;
            lineAddress = entry.ip();
            hostnamesOnLine = 1;
        }
        if (!entry.comment().empty()) {
            put("\t\t# ");
            putField(entry.comment());
            lineTakesMore = false;
        }
        if (used >= pieceBytes) {
            flush(std::string_view(buffer.data(), used));
            used = 0;
        }
    }
    makeRoom(2);
    put("\r\n");
    return used;
}

} // namespace

std::string formatHostsFile(std::string_view header, const HostCollection& hosts)
{
    const std::size_t longest = header.size() + 4 + hosts.textBytes() + 8 * hosts.size();
    std::string out;
    out.reserve(longest);
    largememory::adviseHugePages(out.data(), out.capacity());
    formatHostsFile(header, hosts, [&](std::string_view piece) { out.append(piece); });
    return out;
}

void formatHostsFile(std::string_view header, const HostCollection& hosts,
                     const std::function<void(std::string_view piece)>& write)
{
    // A little room beyond a piece for the entry that crosses its end.
    std::string buffer(kFormatPieceBytes + 4096, '\0');
    const std::size_t rest = formatInto(buffer, kFormatPieceBytes, header, hosts, write);
    write(std::string_view(buffer.data(), rest));
}
