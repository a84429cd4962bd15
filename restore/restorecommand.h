// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What tessaly-restore does, below its command line: listing the kept
// previous versions of the hosts file, and putting one back.

#include <QString>
#include <QStringList>

#include <string>

class QTextStream;

namespace restore {

// The exit codes: 0 only when the hosts file holds the restored bytes.
inline constexpr int kRestored = 0;
inline constexpr int kNotRestored = 1;
inline constexpr int kUsage = 2;

// Lists the kept versions, newest first, one a line: its number, the local
// date and time it was kept, its size and its number of lines; then the
// folder they are kept in.
int listVersions(QTextStream& out, QTextStream& err);

// Puts back `which` (a number from the list, or the path of a file) as the
// hosts file at `hostsPath`, byte for byte, keeping what the file holds now
// as a previous version first.
int restoreVersion(const QString& which, const std::string& hostsPath, QTextStream& out, QTextStream& err);

} // namespace restore
