// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Reading a hosts file.
//
// Contract of the parser (the core; the file entry points in fileaccess/
// only add the file access):
// - The input is bytes, given whole or in chunks split anywhere; they are kept
//   as they are (no re-encoding). NUL bytes, invalid UTF-8 and very long lines
//   are ordinary data.
// - A UTF-8 byte-order mark at the very start is skipped.
// - A line ends at CR LF, at a lone LF or at a lone CR; the last line may lack one.
// - TAB and blank are one separator. A line trimmed of them at both ends is
//   a blank line (nothing left: dropped), a comment line (starts with "#")
//   or an entry line (anything else).
// - Comment lines before the first entry line form the header: each is
//   appended to `header` with its TABs turned into blanks and "\r\n" added.
//   Comment lines after it are dropped. The first entry line ends the header
//   even when it names no hostname.
// - An entry line is an address, then hostnames, split at runs of separators,
//   optionally followed by an inline comment: everything after the first "#",
//   TABs turned into blanks and trimmed of blanks; further "#" stay in it.
//   Each hostname becomes one entry with the line's address and comment,
//   appended in order.
// - A hostname already present (ASCII letter case ignored) is discarded; the
//   earlier entry stays. The notice is then called with the hostname exactly
//   as in the file, in file order, unless an earlier answer was Silence.
// - Nothing reaches the collection or the header before finish(): a reading
//   abandoned half way (the file could not be read to its end) changes nothing.

#include "hostcollection.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

enum class NoticeAnswer { KeepNoticing, Silence };
using DuplicateNotice = std::function<NoticeAnswer(std::string_view host)>;

struct ParseStats {
    std::size_t entries = 0;
    std::size_t duplicates = 0;
};

// Parses a hosts file fed in chunks.
class HostsParser {
public:
    // `expectedBytes`: the input's size when known, so that room for its
    // entries is made once.
    explicit HostsParser(std::size_t expectedBytes = 0);
    HostsParser(const HostsParser&) = delete;
    HostsParser& operator=(const HostsParser&) = delete;
    ~HostsParser();

    void feed(std::string_view bytes);
    // Appends what was read to `hosts` and `header`, asking the notice about
    // each duplicate. A null notice counts duplicates silently.
    ParseStats finish(HostCollection& hosts, std::string& header, const DuplicateNotice& notice = {});

private:
    void takeLine(std::string_view line);

    HostEntryBlocks blocks_;
    std::vector<HostEntryRef> entries_;
    std::vector<std::uint32_t> hashes_; // of each entry's hostname, while its bytes are in the cache
    std::string header_;
    std::string pending_; // the start of a line that the next chunk ends
    std::string commentWithBlanks_;
    std::vector<std::string_view> hostsOnLine_; // of the line being read
    std::size_t textBytes_ = 0;                 // of the entries made, as HostCollection::textBytes()

    std::size_t byteOrderMarkMatched_ = 0;
    bool byteOrderMarkDone_ = false;
    bool skipLeadingLf_ = false; // the last chunk ended in CR: a LF next completes CR LF
    bool entryLineSeen_ = false;
};

// The whole input at once.
ParseStats parseHosts(std::string_view bytes, HostCollection& hosts, std::string& header,
                      const DuplicateNotice& notice = {});
