// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostsfilesave.h"

#include "administratorsave.h"
#include "filesave.h"
#include "hostsformatter.h"
#include "hostslocation.h"
#include "namecache.h"
#include "previousversions.h"

#include <memory>

namespace hostssave {
namespace {

using fileaccess::FileSnapshot;
using previousversions::PreviousVersionKeeper;

// The file as it is now, read once: its snapshot, and, when `keep`, its
// bytes copied into a previous version, which is named only when the save
// goes ahead. No keeper comes back for a missing or unreadable file.
std::unique_ptr<PreviousVersionKeeper> lookAtFile(const std::string& path, bool keep, FileSnapshot& snapshot,
                                                  std::string& unreadable)
{
    std::unique_ptr<PreviousVersionKeeper> keeper;
    if (keep)
        keeper = std::make_unique<PreviousVersionKeeper>();
    snapshot = fileaccess::snapshotFile(path, &unreadable, [&](std::string_view chunk) {
        if (keeper)
            keeper->feed(chunk);
    });
    if (snapshot.state != FileSnapshot::State::Present)
        return nullptr;
    return keeper;
}

// Replaces the file with `content` (whose snapshot is `written` once it has
// been written), or has the save helper do it where the system refuses and
// the file is the system's own; the helper checks that the file is still
// `current`, and takes the content whole, as its request.
HostsFileSave replaceFile(const std::string& path, const FileSnapshot& current,
                          const fileaccess::ContentSource& content, const std::function<std::string()>& whole,
                          const std::function<FileSnapshot()>& written, const HelperRunning& helperRunning)
{
    fileaccess::SaveOutcome outcome = fileaccess::replaceFileContents(path, content);
    FileSnapshot saved = written();
    if (!outcome.saved && outcome.accessDenied && savehelper::canSaveWithAdministratorRights()
        && path == fileaccess::systemHostsFilePath()) {
        const std::string bytes = whole();
        if (helperRunning)
            helperRunning(true);
        outcome = savehelper::saveWithAdministratorRights(current, bytes);
        if (helperRunning)
            helperRunning(false);
        saved = FileSnapshot::of(bytes);
    }
    if (!outcome.saved)
        return {SaveResult::Refused, outcome.reason, {}, {}};
    fileaccess::flushNameCache();
    if (!outcome.confirmedOnDisk)
        return {SaveResult::SavedUnconfirmed, outcome.reason, saved, {}};
    return {SaveResult::Saved, {}, saved, {}};
}

// What became of the version kept before the save: named in the outcome of
// a save that went ahead; and only a save confirmed on disk lets the bounds
// remove old versions, so that a failed one loses nothing kept.
HostsFileSave withPreviousVersion(HostsFileSave save, PreviousVersionKeeper* keeper)
{
    if (keeper && save.result != SaveResult::Refused)
        save.previousVersion = keeper->keptAs();
    if (keeper && save.result == SaveResult::Saved)
        keeper->saveConfirmed();
    return save;
}

} // namespace

HostsFileSave writeHostsFile(const std::string& path, std::string_view header, const HostCollection& hosts,
                             const fileaccess::HostsFileReading& reading, const SaveConsent& consent,
                             const HelperRunning& helperRunning)
{
    if (reading.status == fileaccess::ReadStatus::Failed)
        return {SaveResult::Refused,
                "The file could not be read when Tessaly started (" + reading.reason + "), so it was left as it is.",
                {},
                {}};

    // What the file is now: a save goes ahead only over this, also when the
    // helper writes it.
    FileSnapshot current;
    std::string unreadable;
    const std::unique_ptr<PreviousVersionKeeper> keeper = lookAtFile(path, !consent.withoutPreviousVersion, current,
                                                                     unreadable);
    if (!(current == reading.snapshot) && !(consent.overwriting && current == *consent.overwriting))
        return {SaveResult::ChangedSinceRead, {}, current, {}};
    if (keeper && !keeper->keep())
        return {SaveResult::PreviousVersionNotKept, keeper->problem(), current, {}};

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
    HostsFileSave save = replaceFile(
        path, current, content, [&] { return formatHostsFile(header, hosts); }, [&] { return written.finish(); },
        helperRunning);
    return withPreviousVersion(save, keeper.get());
}

HostsFileSave restoreHostsFile(const std::string& path, std::string_view bytes, const HelperRunning& helperRunning)
{
    FileSnapshot current;
    std::string unreadable;
    const std::unique_ptr<PreviousVersionKeeper> keeper = lookAtFile(path, true, current, unreadable);
    if (current.state == FileSnapshot::State::Unreadable)
        return {
            SaveResult::PreviousVersionNotKept, "The hosts file could not be read (" + unreadable + ")", current, {}};
    if (keeper && !keeper->keep())
        return {SaveResult::PreviousVersionNotKept, keeper->problem(), current, {}};
    const fileaccess::ContentSource content = [bytes](const std::function<void(std::string_view)>& write) {
        write(bytes);
    };
    HostsFileSave save = replaceFile(
        path, current, content, [bytes] { return std::string(bytes); }, [bytes] { return FileSnapshot::of(bytes); },
        helperRunning);
    return withPreviousVersion(save, keeper.get());
}

} // namespace hostssave
