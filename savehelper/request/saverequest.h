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
// The request, all integers little-endian:
//   8 bytes   "TSLYSAVE"
//   u32       protocol version (1)
//   u32       what the editor saw of the file: 0 missing, 1 present
//   u64       its size in bytes
//   u64       its digest (FileSnapshot::digest)
//   u64       length of the new content, at most kMaxContentBytes
//   ...       the new content, exactly that long, then the end of the input
//
// Linux (pkexec starts the helper): the request comes on the helper's
// standard input; it takes no arguments and answers on its standard output
// with one line: "saved"; "unconfirmed: " and the system's reason when the
// file was saved but the system could not confirm that the change is on
// disk; or "error: " and the reason.
//
// Windows (ShellExecuteExW with "runas" starts it, with no standard input or
// output): the editor stages the request in a new file that it holds open
// without write or delete sharing until the helper has ended, so that no
// other program can change or replace it after the user consented. The
// command line is exactly
//   tessaly-save-helper.exe "<staged file>" <its length> <its SHA-256>
// (the length in decimal, the SHA-256 of the whole request as 64 lower-case
// hexadecimal digits). The helper refuses a staged file that is a reparse
// point or not a regular file, and a request whose length or SHA-256 differ.
// It answers with its exit code, HelperExit below.

#include "filesave.h"
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
inline constexpr std::string_view kUnconfirmedPrefix = "unconfirmed: ";

// The Linux helper's answer line for the outcome of its save.
std::string answerLine(const fileaccess::SaveOutcome& outcome);

// The header of a request; the content follows it.
std::string encodeHeader(const FileSnapshot& expected, std::uint64_t contentLength);

struct Request {
    FileSnapshot expected;
    std::string content;
};

// The Windows helper's exit codes.
enum class HelperExit : std::uint32_t {
    Saved = 0,
    FileChanged = 1,       // not what the editor saw
    ArgumentsRefused = 2,  // not the command line above
    StagedFileRefused = 3, // a folder, a reparse point, unreadable
    RequestAltered = 4,    // length or SHA-256 differ from the command line
    RequestRefused = 5,    // not a well-formed request
    NotRegular = 6,        // the hosts file is not a regular file
    ReadOnly = 7,          // it has the read-only attribute
    NotVerified = 8,       // read back, it does not hold the new content
    NoSystemDirectory = 9, // the hosts file's place is unknown
    Unreadable = 10,       // the hosts file is there but cannot be read
    Redirected = 11,       // a junction or link leads elsewhere
    Failed = 12,           // it stopped on an unexpected error (out of memory)
    // The system refused a step of the save: this plus the Windows error
    // code (which is below 0x10000).
    WriteFailed = 0x10000,
};

constexpr std::uint32_t exitCode(HelperExit exit)
{
    return static_cast<std::uint32_t>(exit);
}

// The exit code that tells the editor how a save of the helper's ended.
std::uint32_t helperExitFor(const fileaccess::SaveOutcome& outcome);

// Reads a whole request through `read` (which fills up to `size` bytes and
// returns how many, 0 at the end, or -1 on an error). Returns an empty string
// when the request is complete and well formed, otherwise why it is refused.
// Nothing but the header is held before the length has been checked.
std::string readRequest(const std::function<long long(char* buffer, std::size_t size)>& read, Request& request);

} // namespace savehelper
