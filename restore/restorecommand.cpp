// SPDX-License-Identifier: GPL-3.0-or-later
#include "restorecommand.h"

#include "hostsfilesave.h"
#include "previousversions.h"

#include <QDateTime>
#include <QTextStream>

#include <algorithm>
#include <fstream>
#include <vector>

namespace restore {
namespace {

namespace fs = std::filesystem;

QString shown(const fs::path& path)
{
#ifdef _WIN32
    return QString::fromStdWString(path.native());
#else
    return QString::fromLocal8Bit(path.native().c_str());
#endif
}

fs::path pathOf(const QString& text)
{
#ifdef _WIN32
    return fs::path(text.toStdWString());
#else
    return fs::path(text.toLocal8Bit().toStdString());
#endif
}

// Reads a file to restore, whole (the save helper takes it whole): a regular
// file of at most the helper's 256 MiB. Empty `problem` when read.
std::string readWhole(const fs::path& path, QString& problem)
{
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error) {
        problem = QStringLiteral("%1 cannot be read: %2.").arg(shown(path), QString::fromLocal8Bit(error.message()));
        return {};
    }
    if (!fs::is_regular_file(status)) {
        problem = QStringLiteral("%1 is not a regular file.").arg(shown(path));
        return {};
    }
    const std::uintmax_t size = fs::file_size(path, error);
    if (!error && size > previousversions::kKeptVersionBytesAtMost) {
        problem = QStringLiteral("%1 is larger than 256 MiB, more than a hosts file is saved with.").arg(shown(path));
        return {};
    }
    std::ifstream file(path, std::ios::binary);
    if (error || !file) {
        problem = QStringLiteral("%1 cannot be read.").arg(shown(path));
        return {};
    }
    // One byte more than its size tells a file that grew since it was
    // looked at: what it holds then is not what was chosen.
    std::string bytes(static_cast<std::size_t>(size) + 1, '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (file.bad() || static_cast<std::uintmax_t>(file.gcount()) != size) {
        problem = QStringLiteral("%1 could not be read whole, or changed while it was read.").arg(shown(path));
        return {};
    }
    bytes.resize(static_cast<std::size_t>(size));
    return bytes;
}

std::uint64_t countLines(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::uint64_t lines = 0;
    char last = '\n';
    std::vector<char> buffer(64 * 1024);
    while (file.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || file.gcount() > 0) {
        const auto end = buffer.begin() + file.gcount();
        lines += static_cast<std::uint64_t>(std::count(buffer.begin(), end, '\n'));
        last = *(end - 1);
    }
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

} // namespace

int listVersions(QTextStream& out, QTextStream& err)
{
    const previousversions::VersionsFolder folder = previousversions::previousVersionsFolder();
    if (!folder.problem.empty()) {
        err << "No previous versions can be kept: " << QString::fromLocal8Bit(folder.problem) << ".\n";
        return kNotRestored;
    }
    std::string problem;
    const std::vector<previousversions::KeptVersion> versions = previousversions::listKeptVersions(folder.path,
                                                                                                   &problem);
    if (!problem.empty()) {
        err << shown(folder.path) << " cannot be read: " << QString::fromLocal8Bit(problem) << ".\n";
        return kNotRestored;
    }
    if (versions.empty())
        out << "No previous versions of the hosts file are kept yet.\n";
    const int width = static_cast<int>(QString::number(versions.size()).size());
    for (std::size_t i = 0; i < versions.size(); ++i) {
        const QDateTime keptAt = QDateTime::fromSecsSinceEpoch(versions[i].keptAt);
        out << QStringLiteral("%1  %2  %3  %4\n")
                   .arg(i + 1, width)
                   .arg(keptAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), counted(versions[i].size, "byte"),
                        counted(countLines(versions[i].path), "line"));
    }
    out << "Kept in " << shown(folder.path) << "\n";
    return kRestored;
}

int restoreVersion(const QString& which, const std::string& hostsPath, QTextStream& out, QTextStream& err)
{
    fs::path source;
    if (isNumber(which)) {
        const previousversions::VersionsFolder folder = previousversions::previousVersionsFolder();
        const std::vector<previousversions::KeptVersion> versions = folder.problem.empty()
            ? previousversions::listKeptVersions(folder.path)
            : std::vector<previousversions::KeptVersion>{};
        bool valid = false;
        const qulonglong number = which.toULongLong(&valid);
        if (!valid || number == 0 || number > versions.size()) {
            err << "There is no previous version " << which << " (tessaly-restore --list shows them).\n";
            return kNotRestored;
        }
        source = versions[number - 1].path;
    } else {
        source = pathOf(which);
    }
    QString problem;
    const std::string bytes = readWhole(source, problem);
    if (!problem.isEmpty()) {
        err << problem << " Nothing was restored.\n";
        return kNotRestored;
    }
    const QString target = QString::fromLocal8Bit(hostsPath.c_str());
    out << "Restoring " << shown(source) << " as " << target << "...\n";
    out.flush();
    const hostssave::HostsFileSave save = hostssave::restoreHostsFile(hostsPath, bytes);
    const QString reason = QString::fromLocal8Bit(save.reason.c_str());
    switch (save.result) {
    case hostssave::SaveResult::Saved:
        out << target << " holds the restored version (" << bytes.size() << " bytes).\n";
        if (!save.previousVersion.empty())
            out << "What it held before is kept as " << shown(save.previousVersion) << ".\n";
        return kRestored;
    case hostssave::SaveResult::SavedUnconfirmed:
        err << target << " holds the restored version, but the system could not confirm that it is on disk (" << reason
            << "). Restore it again to be sure.\n";
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
