// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostsfilesave.h"

#include "administratorsave.h"
#include "filesave.h"
#include "hostsformatter.h"
#include "hostslocation.h"
#include "namecache.h"

namespace hostssave {

using fileaccess::FileSnapshot;

HostsFileSave writeHostsFile(const std::string& path, std::string_view header, const HostCollection& hosts,
                             const fileaccess::HostsFileReading& reading,
                             const std::optional<FileSnapshot>& overwriting, const HelperRunning& helperRunning)
{
    if (reading.status == fileaccess::ReadStatus::Failed)
        return {SaveResult::Refused,
                "The file could not be read when Tessaly started (" + reading.reason + "), so it was left as it is.",
                {}};

    // What the file is now: a save goes ahead only over this, also when the
    // helper writes it.
    const FileSnapshot current = fileaccess::snapshotFile(path);
    if (!(current == reading.snapshot) && !(overwriting && current == *overwriting))
        return {SaveResult::ChangedSinceRead, {}, current};

    // Formatted piece by piece as it is written (and again as it is read
    // back), so that a large file is never held whole; the first pass also
    // takes its snapshot.
    fileaccess::SnapshotDigest written;
    bool firstPass = true;
    const fileaccess::ContentSource content = [&](const std::function<void(std::string_view)>& write) {
        formatHostsFile(header, hosts, [&](std::string_view piece) {
            if (firstPass)
                written.feed(piece);
            write(piece);
        });
        firstPass = false;
    };
    fileaccess::SaveOutcome outcome = fileaccess::replaceFileContents(path, content);
    FileSnapshot saved = written.finish();
    // The helper writes the system's hosts file only, never another path. It
    // takes the content whole, as its request.
    if (!outcome.saved && outcome.accessDenied && savehelper::canSaveWithAdministratorRights()
        && path == fileaccess::systemHostsFilePath()) {
        const std::string bytes = formatHostsFile(header, hosts);
        if (helperRunning)
            helperRunning(true);
        outcome = savehelper::saveWithAdministratorRights(current, bytes);
        if (helperRunning)
            helperRunning(false);
        saved = FileSnapshot::of(bytes);
    }
    if (!outcome.saved)
        return {SaveResult::Refused, outcome.reason, {}};
    fileaccess::flushNameCache();
    if (!outcome.confirmedOnDisk)
        return {SaveResult::SavedUnconfirmed, outcome.reason, saved};
    return {SaveResult::Saved, {}, saved};
}

} // namespace hostssave
