// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Files that no save can replace or rewrite, as a system that refuses makes
// them: for tests of what a refused save leaves.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef __linux__
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

namespace unwritable {

#ifdef __linux__
// The immutable attribute, which even root's writes and renames obey.
inline bool setImmutable(const QString& path, bool immutable)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0)
        ::close(fd);
    return done;
}
#endif

// Makes the file at `path` one that no save can replace or rewrite, and back
// (false where this system or user cannot): Windows's read-only attribute,
// for root the immutable attribute, for a user a read-only file in a folder
// that takes no new file.
inline bool makeUnwritable(const QString& path, bool unwritable)
{
#ifdef _WIN32
    return SetFileAttributesW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                              unwritable ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
#else
#ifdef __linux__
    if (::geteuid() == 0)
        return setImmutable(path, unwritable);
#endif
    const QByteArray folder = QFile::encodeName(QFileInfo(path).path());
    return ::chmod(folder.constData(), unwritable ? 0555 : 0755) == 0
        && ::chmod(QFile::encodeName(path).constData(), unwritable ? 0444 : 0644) == 0;
#endif
}

} // namespace unwritable
