// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace fileaccess {

// Why a save failed, for a process that has to pass it on as a number (the
// Windows save helper's exit code) rather than as `reason`.
enum class SaveFailure {
    None,
    System,      // the system refused a step: `systemError` says why
    NotRegular,  // the target is a directory, a device or a pipe
    ReadOnly,    // Windows: the target has the read-only attribute
    NotVerified, // read back, the file does not hold what was written
};

struct SaveOutcome {
    bool saved = false;
    std::string reason; // what failed and the system's words, when not saved
    // The system refused access (POSIX: EACCES or EPERM; Windows:
    // ERROR_ACCESS_DENIED or ERROR_PRIVILEGE_NOT_HELD): a process with
    // administrator rights could save where this one may not.
    bool accessDenied = false;
    SaveFailure failure = SaveFailure::None;
    std::uint32_t systemError = 0; // errno, or the Windows error code
    // Saved, but the system could not confirm that the change survives a
    // power cut (POSIX: the sync of the directory after the rename failed);
    // `reason` then holds the system's words. Saving again may confirm it.
    bool confirmedOnDisk = true;
};

// The new content of a save, handed piece by piece to `write` each time the
// save asks for it: once to write it, once more to compare it with what the
// file holds afterwards, so that a large file is never held whole. It must
// give the same bytes each time.
using ContentSource = std::function<void(const std::function<void(std::string_view piece)>& write)>;

// Replaces the content of the file at `path` with `content`, so that the
// file holds either all of its old bytes or all of the new ones.
//
// POSIX: the new content is written to a file without a name in the target's
// directory (O_TMPFILE; where the file system refuses that, a file of a random
// name), synced, given the target's mode, owner, group and extended
// attributes (exactly those: an ACL that the directory would pass on is
// dropped), named only then, and renamed over the target; the directory is
// synced (a failure there leaves the save unconfirmed). A crash leaves at
// most a named new file, which the next save removes. A symbolic link is followed: its target is replaced and the link
// stays. The file is rewritten in place instead, with its old bytes written
// back if that fails, where the rename is refused (a bind-mounted file,
// another device), where the metadata cannot be carried over, and where the
// file has more than one hard link (every name then sees the new content).
// A missing file is created with mode 0644. A target that is not a regular
// file is refused.
// Windows: the same with ReplaceFileW, which keeps ACLs and attributes; a
// file with the read-only attribute is refused, as Windows itself would.
//
// The in-place rewrite holds the content whole, for its one write.
// Afterwards the file is read back; different bytes count as a failure.
// On failure no temporary file is left behind.
SaveOutcome replaceFileContents(const std::string& path, const ContentSource& content);
// The same with content held whole.
SaveOutcome replaceFileContents(const std::string& path, std::string_view bytes);

// The reason replaceFileContents gives for a failure of kind NotRegular,
// ReadOnly or NotVerified of the file at `path` (another process's save
// passes on only the kind).
std::string saveFailureReason(SaveFailure failure, const std::string& path);

// The points of a save at which a crash leaves something different behind.
// Tests stop a save at each of them to check what is left.
enum class SaveStep {
    NewFileWritten, // new content written and synced, not named yet
    NewFileNamed,   // the new file has a name beside the target
    Renamed,        // the new file has replaced the target
    InPlaceOldRead, // in-place rewrite: the old bytes are kept in memory
    InPlaceWritten, // in-place rewrite: new bytes written, not truncated
};
namespace testing {
// Called at each step of every later save; null (the default) for none.
void setSaveStepHook(void (*hook)(SaveStep));
#ifndef _WIN32
// Called instead of fsync(2) for every file and directory a save syncs;
// null (the default) for fsync itself.
void setSyncHook(int (*hook)(int fd));
#else
// While set, every save is refused before it touches anything, as the
// system refuses a user without administrator rights (wine grants all).
void setAccessDenied(bool denied);
#endif
} // namespace testing

} // namespace fileaccess
