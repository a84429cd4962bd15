#pragma once

// Reading a hosts file.
//
// Contract of parseHosts (the core; readHostsFile only adds the file access):
// - The input is bytes; they are kept as they are (no re-encoding). NUL bytes,
//   invalid UTF-8 and very long lines are ordinary data.
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
//   as in the file, unless an earlier answer was Silence.

#include "hostcollection.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

enum class NoticeAnswer { KeepNoticing, Silence };
using DuplicateNotice = std::function<NoticeAnswer(std::string_view host)>;

struct ParseStats {
    std::size_t entries = 0;
    std::size_t duplicates = 0;
};

// Appends to `hosts` and `header`. A null notice counts duplicates silently.
ParseStats parseHosts(std::string_view bytes, HostCollection& hosts, std::string& header,
                      const DuplicateNotice& notice = {});

// What a file held when it was looked at: enough to tell later whether
// another program has changed it since.
struct FileSnapshot {
    enum class State { Missing, Present, Unreadable };
    State state = State::Missing;
    std::uint64_t size = 0;
    std::uint64_t digest = 0;

    static FileSnapshot of(std::string_view bytes);
    friend bool operator==(const FileSnapshot&, const FileSnapshot&) = default;
};

enum class ReadStatus {
    NoFile,   // the file does not exist: an empty start
    Complete, // every byte was read
    Failed,   // it exists but could not be opened or read to its end
};

struct ReadReport {
    ReadStatus status = ReadStatus::NoFile;
    std::string reason; // the system's words, when Failed
    ParseStats stats;
    FileSnapshot snapshot;
};

struct FileBytes {
    ReadStatus status = ReadStatus::NoFile;
    std::string reason;
    std::string bytes;
};

// The whole file as bytes. A file of 2 GiB or more fails as too large.
FileBytes readFileBytes(const std::string& path);

// Looks at the file as it is now, for comparison with a reading's snapshot.
FileSnapshot snapshotFile(const std::string& path);

// Reads the file at `path` into `hosts` and `header`. When the file cannot
// be read to its end, nothing is parsed: a partial reading saved later would
// cut the file short.
ReadReport readHostsFile(const std::string& path, HostCollection& hosts, std::string& header,
                         const DuplicateNotice& notice = {});
