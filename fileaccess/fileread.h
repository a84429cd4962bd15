// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Reading files: the hosts file at start-up, and looking at it again before
// it is saved. A file that is not a regular one (a FIFO, a device, a
// directory) is never read: reading it could block for ever, and saving over
// it would replace something that holds no hosts list.

#include "filesnapshot.h"
#include "hostsparser.h"
#include "openfile.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace fileaccess {

enum class ReadStatus {
    NoFile,   // the file does not exist: an empty start
    Complete, // every byte was read
    Failed,   // it exists but could not be opened or read to its end
};

// How a reading of a file ended.
struct ReadOutcome {
    ReadStatus status = ReadStatus::NoFile;
    std::string reason; // the system's words, when Failed

    static ReadOutcome failed(std::string reason) { return {ReadStatus::Failed, std::move(reason)}; }
};

// How a reading of the hosts file ended, what it found, and what the file
// held then.
struct HostsFileReading : ReadOutcome {
    ParseStats stats;
    FileSnapshot snapshot;
};

inline constexpr std::size_t kReadChunkBytes = 256 * 1024;
inline constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 31;

// A path as this system's narrow file calls take it: its bytes on POSIX
// systems, text in the ANSI code page on Windows.
std::filesystem::path systemPath(const std::string& path);

// The file at `path` opened to read it, or null with `outcome` saying why:
// NoFile when it does not exist, Failed when it cannot be opened or is not a
// regular file.
std::unique_ptr<OpenFile> openToRead(const std::filesystem::path& path, ReadOutcome& outcome);

// Gives the rest of `file` to `consume` in chunks of kReadChunkBytes; a file
// that reaches `tooLarge` bytes (it may grow while it is read) fails after
// the chunk that reached it.
ReadOutcome readInChunks(OpenFile& file, const std::function<void(std::string_view)>& consume,
                         std::uint64_t tooLarge = kMaxFileBytes);

// How a reading of a whole file ended, and its bytes when Complete.
struct FileContents : ReadOutcome {
    std::string bytes;
};

// The whole of `file`, which must hold the size it had when it was opened
// to its end: a file that changes size while it is read fails, as what it
// holds then is not what was looked at.
FileContents readWhole(OpenFile& file);

// Gives the file's bytes to `consume` in chunks of a few hundred KiB, so that
// a large file is never held twice; `sized`, when given, first learns the
// size the file has when it is opened. A file of 2 GiB or more fails as too
// large.
ReadOutcome readFileInChunks(const std::string& path, const std::function<void(std::string_view)>& consume,
                             const std::function<void(std::uint64_t)>& sized = {});

FileContents readFileBytes(const std::string& path);

// Looks at the file as it is now, for comparison with a reading's snapshot.
// When it cannot be read, `unreadable` (if given) learns the system's words.
// `alsoRead`, when given, gets the bytes too, chunk by chunk, as they are
// read (a copy of them is kept so, without a second reading).
FileSnapshot snapshotFile(const std::string& path, std::string* unreadable = nullptr,
                          const std::function<void(std::string_view)>& alsoRead = {});

// Reads the file at `path` into `hosts` and `header`. When the file cannot
// be read to its end, nothing is added: a partial reading saved later would
// cut the file short.
HostsFileReading readHostsFile(const std::string& path, HostCollection& hosts, std::string& header,
                               const DuplicateNotice& notice = {});

} // namespace fileaccess
