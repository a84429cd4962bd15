// SPDX-License-Identifier: GPL-3.0-or-later
#include "restorecommand.h"

#include "filetext.h"
#include "hostsfilesave.h"
#include "previousversions.h"
#include "saverequest.h"

#include <QDateTime>
#include <QTextStream>

#include <algorithm>
#include <vector>

namespace restore {
namespace {

namespace fs = std::filesystem;
using platform::pathText;

QString systemText(const std::string& words)
{
    return platform::textFromFile(words);
}

// Reads a file to restore whole, as the save helper takes it: a regular
// file of at most what the helper takes, holding to its end the size it had
// when it was opened. Empty `problem` when read.
std::string readWhole(fileaccess::OpenFile& file, const QString& shown, QString& problem)
{
    if (file.openedSize() > savehelper::kMaxContentBytes) {
        problem = QStringLiteral("%1 is larger than 256 MiB, more than a hosts file is saved with.").arg(shown);
        return {};
    }
    fileaccess::FileContents contents = fileaccess::readWhole(file);
    if (contents.status != fileaccess::ReadStatus::Complete) {
        problem = QStringLiteral("%1 could not be read whole (%2).").arg(shown, systemText(contents.reason));
        return {};
    }
    return std::move(contents.bytes);
}

std::uint64_t countLines(fileaccess::OpenFile& file)
{
    std::uint64_t lines = 0;
    char last = '\n';
    fileaccess::readInChunks(file, [&](std::string_view chunk) {
        lines += static_cast<std::uint64_t>(std::count(chunk.begin(), chunk.end(), '\n'));
        last = chunk.back();
    });
    return lines + (last != '\n' ? 1 : 0);
}

QString counted(std::uint64_t count, const char* unit)
{
    return QStringLiteral("%1 %2%3").arg(count).arg(QLatin1String(unit), count == 1 ? "" : "s");
}

bool isNumber(const QString& text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
}

// A bare name of the versions' naming is a kept version, as a number is;
// with a folder in front ("./hosts-...") it is that file.
bool isVersionName(const QString& text)
{
    return previousversions::parseKeptVersionName(text.toStdString()).has_value();
}

// The version `which` (a number from the list, or a version's name) names,
// or null with a message in `err`.
const previousversions::KeptVersion* findVersion(const previousversions::KeptVersions& kept, const QString& which,
                                                 QTextStream& err)
{
    const std::vector<previousversions::KeptVersion>& versions = kept.versions();
    if (isNumber(which)) {
        bool valid = false;
        const qulonglong number = which.toULongLong(&valid);
        if (valid && number > 0 && number <= versions.size())
            return &versions[number - 1];
    } else {
        const std::string name = which.toStdString();
        for (const previousversions::KeptVersion& version : versions)
            if (version.name == name)
                return &version;
    }
    if (!kept.problem().empty())
        err << pathText(kept.folder()) << " cannot be read: " << systemText(kept.problem()) << ".\n";
    err << "There is no previous version " << which << " (tessaly-restore --list shows them).\n";
    return nullptr;
}

QString localTime(std::int64_t seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

int listVersions(QTextStream& out, QTextStream& err)
{
    const previousversions::KeptVersions kept;
    if (kept.folder().empty()) {
        err << "No previous versions can be kept: " << systemText(kept.problem()) << ".\n";
        return kNotRestored;
    }
    if (!kept.problem().empty()) {
        err << pathText(kept.folder()) << " cannot be read: " << systemText(kept.problem()) << ".\n";
        return kNotRestored;
    }
    const std::vector<previousversions::KeptVersion>& versions = kept.versions();
    if (versions.empty())
        out << "No previous versions of the hosts file are kept yet.\n";
    const int width = static_cast<int>(QString::number(versions.size()).size());
    for (std::size_t i = 0; i < versions.size(); ++i) {
        const previousversions::KeptVersion& version = versions[i];
        fileaccess::ReadOutcome unread;
        const std::unique_ptr<fileaccess::OpenFile> file = kept.open(version, unread);
        out << QStringLiteral("%1  %2  %3  %4  %5")
                   .arg(i + 1, width)
                   .arg(localTime(version.keptAt), counted(version.size, "byte"),
                        file ? counted(countLines(*file), "line") : QStringLiteral("unreadable"),
                        QString::fromStdString(version.name));
        // Named after the newest, as a new version always is, while the
        // clock was behind that name: when it really was kept.
        if (version.namedAhead())
            out << "  (kept when the clock read " << localTime(version.modified) << ")";
        out << "\n";
    }
    out << "Kept in " << pathText(kept.folder()) << "\n";
    return kRestored;
}

int showVersion(const QString& which, std::FILE* out, QTextStream& err)
{
    if (!isNumber(which) && !isVersionName(which)) {
        err << "--show takes the number or the name of a kept version (tessaly-restore --list shows them).\n";
        return kUsage;
    }
    const previousversions::KeptVersions kept;
    const previousversions::KeptVersion* version = findVersion(kept, which, err);
    if (!version)
        return kNotRestored;
    fileaccess::ReadOutcome unread;
    const std::unique_ptr<fileaccess::OpenFile> file = kept.open(*version, unread);
    bool written = true;
    if (file)
        unread = fileaccess::readInChunks(*file, [&](std::string_view chunk) {
            written = written && std::fwrite(chunk.data(), 1, chunk.size(), out) == chunk.size();
        });
    written = std::fflush(out) == 0 && written;
    if (!file || unread.status != fileaccess::ReadStatus::Complete || !written) {
        err << pathText(kept.pathOf(*version)) << " could not be "
            << (written ? "read: " + systemText(unread.reason) : QStringLiteral("written out")) << ".\n";
        return kNotRestored;
    }
    return kRestored;
}

int restoreVersion(const QString& which, const std::string& hostsPath, QTextStream& out, QTextStream& err)
{
    fs::path source;
    // What to give tessaly-restore to restore the same again.
    QString again = which;
    std::unique_ptr<fileaccess::OpenFile> file;
    fileaccess::ReadOutcome unread;
    if (isNumber(which) || isVersionName(which)) {
        const previousversions::KeptVersions kept;
        const previousversions::KeptVersion* version = findVersion(kept, which, err);
        if (!version)
            return kNotRestored;
        source = kept.pathOf(*version);
        again = QString::fromStdString(version->name);
        file = kept.open(*version, unread);
    } else {
        source = platform::pathFromText(which);
        file = fileaccess::openToRead(source, unread);
    }
    QString problem;
    const std::string bytes = file ? readWhole(*file, pathText(source), problem) : std::string();
    std::error_code unknown;
    const fs::file_status status = fs::status(source, unknown);
    if (!file)
        problem = fs::exists(status) && !fs::is_regular_file(status)
            ? QStringLiteral("%1 is not a regular file.").arg(pathText(source))
            : QStringLiteral("%1 cannot be read: %2.").arg(pathText(source), systemText(unread.reason));
    if (!problem.isEmpty()) {
        err << problem << " Nothing was restored.\n";
        return kNotRestored;
    }
    const QString target = systemText(hostsPath);
    out << "Restoring " << pathText(source) << " as " << target << "...\n";
    out.flush();
    const hostssave::HostsFileSave save = hostssave::restoreHostsFile(hostsPath, bytes);
    const QString reason = systemText(save.reason);
    switch (save.result) {
    case hostssave::SaveResult::Saved:
        out << target << " holds the restored version (" << bytes.size() << " bytes).\n";
        if (!save.previousVersion.empty())
            out << "What it held before is kept as " << pathText(save.previousVersion) << ".\n";
        return kRestored;
    case hostssave::SaveResult::SavedUnconfirmed:
        // Nothing kept was removed, and names do not shift as numbers do.
        err << target << " holds the restored version, but the system could not confirm that it is on disk (" << reason
            << "). Restore it again to be sure: tessaly-restore " << again << "\n";
        return kNotRestored;
    case hostssave::SaveResult::PreviousVersionNotKept:
        err << "What " << target << " holds now could not be kept as a previous version (" << reason
            << "), so nothing was restored.\n";
        return kNotRestored;
    case hostssave::SaveResult::Refused:
    case hostssave::SaveResult::ChangedSinceRead:
        break;
    }
    err << target << " could not be restored: " << reason << "\n";
    return kNotRestored;
}

} // namespace restore
