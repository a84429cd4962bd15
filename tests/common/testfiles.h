// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Reading and writing whole files in tests.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <filesystem>

namespace testfiles {

// The file's bytes, or "<unreadable>".
inline QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

inline QByteArray contentOf(const std::filesystem::path& path)
{
    return contentOf(QString::fromStdWString(path.wstring()));
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace testfiles
