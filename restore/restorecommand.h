// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What tessaly-restore does, below its command line: listing the kept
// previous versions of the hosts file, and putting one back.

#include <QString>
#include <QStringList>

#include <cstdio>
#include <string>

class QTextStream;

namespace restore {

// The exit codes: 0 only when the hosts file holds the restored bytes.
inline constexpr int kRestored = 0;
inline constexpr int kNotRestored = 1;
inline constexpr int kUsage = 2;

// Lists the kept versions, newest first, one a line: its number, the local
// date and time it was kept, its size, its number of lines and its file's
// name (and, for one kept while the clock was behind the newest name, when
// it really was kept); then the folder they are kept in.
int listVersions(QTextStream& out, QTextStream& err);

// Writes the kept version `which` (a number from the list, or a version's
// file name) to `out` byte for byte.
int showVersion(const QString& which, std::FILE* out, QTextStream& err);

// Puts back `which` (a number from the list, a version's file name, or the
// path of a file: a name with a folder in front, "./hosts-...", is a file)
// as the hosts file at `hostsPath`, byte for byte, keeping what the file
// holds now as a previous version first.
int restoreVersion(const QString& which, const std::string& hostsPath, QTextStream& out, QTextStream& err);

} // namespace restore
