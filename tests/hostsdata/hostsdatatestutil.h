// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "hostcollection.h"

#include <QFile>
#include <QString>
#include <QTest>

#include <string>
#include <tuple>
#include <vector>

using EntryFields = std::tuple<std::string, std::string, std::string>; // ip, host, comment

inline std::vector<EntryFields> fieldsOf(const HostCollection& hosts)
{
    std::vector<EntryFields> out;
    for (const HostEntry& entry : hosts)
        out.emplace_back(entry.ip(), entry.host(), entry.comment());
    return out;
}

inline QString sharedDataPath(const char* name)
{
    return QStringLiteral(TESSALY_SHARED_DATA_DIR "/") + QLatin1String(name);
}

inline QString fixturePath(const char* name)
{
    return QStringLiteral(TESSALY_TEST_DATA_DIR "/") + QLatin1String(name);
}

// The bytes of a fixture file, exactly as stored.
inline std::string fixtureBytes(const char* name)
{
    QFile file(fixturePath(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

namespace QTest {
template <>
inline char* toString(const EntryFields& fields)
{
    const auto& [ip, host, comment] = fields;
    return qstrdup(("{" + ip + " | " + host + " | " + comment + "}").c_str());
}
} // namespace QTest
