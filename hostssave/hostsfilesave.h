// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Saving the hosts file: the counterpart of fileaccess::readHostsFile, below
// the windows. It formats the entries, replaces the file safely, falls back
// to the save helper where the system refuses and the file is the system's
// own, and has the name cache flushed. The windows only ask and tell.

#include "fileread.h"
#include "filesnapshot.h"
#include "hostcollection.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace hostssave {

enum class SaveResult {
    Saved,            // written and read back
    SavedUnconfirmed, // written and read back, but the system could not confirm that it is on disk
    Refused,          // nothing written: `reason` says why
    ChangedSinceRead, // another program changed the file after it was read: nothing written
    // The file as it is could not be kept as a previous version
    // (previousversions.h): nothing written; `reason` says why.
    PreviousVersionNotKept,
};

struct HostsFileSave {
    SaveResult result = SaveResult::Refused;
    // Why it was refused, or why the system could not confirm the save.
    std::string reason;
    // Saved: what the file holds now, to compare the next save with.
    // ChangedSinceRead: what it holds now, which the user may agree to
    // overwrite (see writeHostsFile).
    fileaccess::FileSnapshot snapshot;
    // Saved: where the bytes it replaced were kept; empty when the file was
    // missing or the newest kept version held the same bytes.
    std::filesystem::path previousVersion;
};

// What the user agreed to after an earlier outcome.
struct SaveConsent {
    // The snapshot of a ChangedSinceRead outcome: that change may be
    // overwritten.
    std::optional<fileaccess::FileSnapshot> overwriting;
    // After PreviousVersionNotKept: save without keeping one.
    bool withoutPreviousVersion = false;
};

// Told `true` before the save helper starts and `false` once it has ended:
// meanwhile the caller keeps its windows from acting and from closing. The
// helper may take long (a password is asked for), and events are processed.
using HelperRunning = std::function<void(bool running)>;

// Writes `header` and `hosts` in the hosts file format over the file at
// `path`, which `reading` read. A file that could not be read is never
// written (a partial reading saved would cut it short). A file that another
// program changed since it was read is written only over the change the
// user agreed to (`consent.overwriting`); a file changed again since then is
// ChangedSinceRead again. The bytes it replaces are first kept as a previous
// version, copied as the file is read to compare it with the reading; where
// that fails, nothing is written unless the user agreed.
HostsFileSave writeHostsFile(const std::string& path, std::string_view header, const HostCollection& hosts,
                             const fileaccess::HostsFileReading& reading, const SaveConsent& consent = {},
                             const HelperRunning& helperRunning = {});

// Puts `bytes` back as the file at `path`, byte for byte, after keeping what
// the file holds now as a previous version (nothing is written when that
// fails), through the save helper where the system refuses and the file is
// the system's own.
HostsFileSave restoreHostsFile(const std::string& path, std::string_view bytes,
                               const HelperRunning& helperRunning = {});

} // namespace hostssave
