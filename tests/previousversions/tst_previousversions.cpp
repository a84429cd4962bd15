// SPDX-License-Identifier: GPL-3.0-or-later
// Keeping previous versions of the hosts file: exact copies, named for the
// time and never over one another, once per distinct content, within the
// count and size bounds, and only in a folder that is the user's own.
#include "previousversions.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <memory>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using previousversions::KeptVersion;
using previousversions::KeptVersions;
using previousversions::PreviousVersionKeeper;

using testfiles::contentOf;

namespace {

fs::path pathOf(const QString& path)
{
    return fs::path(QDir::toNativeSeparators(path).toStdWString());
}

// Keeps `bytes`, fed in two chunks as a save reads them, at `keptAt`.
fs::path keep(std::string_view bytes, std::int64_t keptAt, bool* kept = nullptr)
{
    previousversions::testing::setKeepingTime(keptAt);
    PreviousVersionKeeper keeper;
    keeper.feed(bytes.substr(0, bytes.size() / 2));
    keeper.feed(bytes.substr(bytes.size() / 2));
    const bool ok = keeper.keep();
    previousversions::testing::setKeepingTime(std::nullopt);
    if (kept)
        *kept = ok;
    return keeper.keptAs();
}

// A version of `size` bytes that takes no room (a sparse file).
void placeVersion(const fs::path& folder, std::int64_t keptAt, std::uint64_t size)
{
    const fs::path path = folder / previousversions::keptVersionName(keptAt, 1);
    {
        std::ofstream created(path, std::ios::binary);
    }
    fs::resize_file(path, size);
}

constexpr std::int64_t kMorning = 1796800000; // 2026-12-09

} // namespace

class PreviousVersionsTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        directory_ = std::make_unique<QTemporaryDir>();
        previousversions::testing::setStateFolder(pathOf(directory_->filePath("state")));
    }
    void cleanup() { previousversions::testing::setStateFolder(std::nullopt); }
    void namesCarryTheTimeAndParseBack_data();
    void namesCarryTheTimeAndParseBack();
    void keepsTheExactBytesNewestFirst();
    void sameBytesAsTheNewestAreNotKeptAgain();
    void twoInTheSameSecondAreBothKept();
    void oldestGoBeyondTheBounds();
    void onlyAFolderOfTheUsersOwnIsUsed_data();
    void onlyAFolderOfTheUsersOwnIsUsed();

private:
    fs::path folder() const { return previousversions::versionsFolder().path; }
    static std::vector<KeptVersion> listed() { return KeptVersions().versions(); }
    std::unique_ptr<QTemporaryDir> directory_;
};

void PreviousVersionsTest::namesCarryTheTimeAndParseBack_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("keptAt"); // -1: not a version's name
    QTest::addColumn<int>("sequence");
    QTest::newRow("first in its second") << "hosts-2026-12-09T07-06-40Z" << qint64(kMorning) << 1;
    QTest::newRow("third in its second") << "hosts-2026-12-09T07-06-40Z-3" << qint64(kMorning) << 3;
    QTest::newRow("epoch") << "hosts-1970-01-01T00-00-00Z" << qint64(0) << 1;
    QTest::newRow("colons") << "hosts-2026-12-09T06:13:20Z" << qint64(-1) << 0;
    QTest::newRow("no such day") << "hosts-2026-02-30T07-06-40Z" << qint64(-1) << 0;
    QTest::newRow("sequence 1 spelt out") << "hosts-2026-12-09T07-06-40Z-1" << qint64(-1) << 0;
    QTest::newRow("sequence with a sign") << "hosts-2026-12-09T07-06-40Z-+2" << qint64(-1) << 0;
    QTest::newRow("unfinished copy") << ".partial-abc123" << qint64(-1) << 0;
    QTest::newRow("another file") << "hosts-2026-12-09T07-06-40Z.txt" << qint64(-1) << 0;
}

void PreviousVersionsTest::namesCarryTheTimeAndParseBack()
{
    QFETCH(QString, name);
    QFETCH(qint64, keptAt);
    QFETCH(int, sequence);
    const auto parsed = previousversions::parseKeptVersionName(name.toStdString());
    if (keptAt < 0) {
        QVERIFY(!parsed);
        return;
    }
    QVERIFY(parsed);
    QCOMPARE(parsed->first, keptAt);
    QCOMPARE(parsed->second, sequence);
    QCOMPARE(QString::fromStdString(previousversions::keptVersionName(keptAt, sequence)), name);
}

void PreviousVersionsTest::keepsTheExactBytesNewestFirst()
{
    // Comments, blank lines, both line ends and a second address: a save
    // drops these, the version keeps them.
    const std::string first = "# lab\r\n\r\n127.0.0.1 localhost\n::1 localhost\n#10.0.0.9 off\r\n10.0.0.1 alpha";
    const std::string second = "127.0.0.1 localhost\r\n";
    const fs::path firstKept = keep(first, kMorning);
    const fs::path secondKept = keep(second, kMorning + 60);
    QCOMPARE(contentOf(firstKept).toStdString(), first);
    QCOMPARE(contentOf(secondKept).toStdString(), second);
    const std::vector<KeptVersion> versions = listed();
    QCOMPARE(versions.size(), 2u);
    QVERIFY(KeptVersions().pathOf(versions[0]) == secondKept);
    QCOMPARE(versions[0].size, second.size());
    QCOMPARE(versions[1].keptAt, kMorning);
    // Nothing but the versions is left in the folder.
    QCOMPARE(QDir(QString::fromStdWString(folder().wstring()))
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                 .size(),
             2);
#ifndef _WIN32
    struct stat status{};
    QCOMPARE(::stat(folder().c_str(), &status), 0);
    QCOMPARE(status.st_mode & 0777, 0700u);
#endif
}

void PreviousVersionsTest::sameBytesAsTheNewestAreNotKeptAgain()
{
    bool kept = false;
    QVERIFY(!keep("a\n", kMorning).empty());
    QVERIFY(keep("a\n", kMorning + 1, &kept).empty());
    QVERIFY(kept);
    QVERIFY(!keep("b\n", kMorning + 2).empty());
    QVERIFY(!keep("a\n", kMorning + 3).empty()); // the same as an older one only
    QCOMPARE(listed().size(), 3u);
}

void PreviousVersionsTest::twoInTheSameSecondAreBothKept()
{
    const fs::path first = keep("one\n", kMorning);
    const fs::path second = keep("two\n", kMorning);
    QCOMPARE(QString::fromStdWString(first.filename().wstring()), "hosts-2026-12-09T07-06-40Z");
    QCOMPARE(QString::fromStdWString(second.filename().wstring()), "hosts-2026-12-09T07-06-40Z-2");
    QCOMPARE(contentOf(first), "one\n");
    QCOMPARE(contentOf(second), "two\n");
    QVERIFY(KeptVersions().pathOf(listed().front()) == second);
}

void PreviousVersionsTest::oldestGoBeyondTheBounds()
{
    QVERIFY(keep("first\n", kMorning).filename() != "");
    const fs::path stranger = folder() / "notes.txt";
    {
        std::ofstream(stranger) << "mine";
    }
    for (int i = 1; i <= 21; ++i)
        keep("version " + std::to_string(i) + "\n", kMorning + i);
    std::vector<KeptVersion> versions = listed();
    QCOMPARE(versions.size(), previousversions::kKeptVersionsAtMost);
    QCOMPARE(contentOf(folder() / versions.front().name), "version 21\n");
    QCOMPARE(versions.back().keptAt, kMorning + 2);
    QVERIFY(fs::exists(stranger)); // not of the versions' naming: never removed

    // 256 MiB in all: two versions of 100 MiB, and a third pushes the oldest
    // out; a newest one larger than the bound alone still stays.
    fs::remove_all(folder());
    fs::create_directories(folder());
    placeVersion(folder(), kMorning, 100u << 20);
    placeVersion(folder(), kMorning + 1, 100u << 20);
    placeVersion(folder(), kMorning + 2, 100u << 20);
    keep("small\n", kMorning + 3);
    versions = listed();
    QCOMPARE(versions.size(), 3u);
    QCOMPARE(versions.back().keptAt, kMorning + 1);
    placeVersion(folder(), kMorning + 4, 300u << 20);
    keep(std::string(300u << 10, 'x'), kMorning + 5);
    versions = listed();
    QCOMPARE(versions.size(), 1u);
    QCOMPARE(versions.front().keptAt, kMorning + 5);
}

void PreviousVersionsTest::onlyAFolderOfTheUsersOwnIsUsed_data()
{
    QTest::addColumn<QString>("setUp");
    QTest::addColumn<QString>("problem"); // a part of the reason given
    QTest::newRow("a file where the folder goes") << "file"
                                                  << "";
#ifndef _WIN32
    QTest::newRow("no home folder") << "none"
                                    << "No home folder is set";
    QTest::newRow("a symbolic link") << "link"
                                     << "is a symbolic link";
    QTest::newRow("another user's folder") << "other user"
                                           << "belongs to another user";
#endif
}

void PreviousVersionsTest::onlyAFolderOfTheUsersOwnIsUsed()
{
    QFETCH(QString, setUp);
    QFETCH(QString, problem);
    fs::create_directories(folder().parent_path());
    const QByteArray home = qgetenv("HOME");
    const QByteArray state = qgetenv("XDG_STATE_HOME");
    if (setUp == "none") {
        previousversions::testing::setStateFolder(std::nullopt);
        qunsetenv("HOME");
        qunsetenv("XDG_STATE_HOME");
    } else if (setUp == "file") {
        std::ofstream(folder()) << "x";
    } else if (setUp == "link") {
        const fs::path elsewhere = pathOf(directory_->filePath("elsewhere"));
        fs::create_directories(elsewhere);
        fs::create_directory_symlink(elsewhere, folder());
    } else {
#ifndef _WIN32
        if (::geteuid() != 0)
            QSKIP("needs root, to give a folder to another user");
        fs::create_directories(folder());
        QCOMPARE(::chown(folder().c_str(), 65534, 65534), 0);
#endif
    }
    PreviousVersionKeeper keeper;
    qputenv("HOME", home);
    qputenv("XDG_STATE_HOME", state);
    previousversions::testing::setStateFolder(pathOf(directory_->filePath("state")));
    keeper.feed("127.0.0.1 localhost\n");
    QVERIFY(!keeper.keep());
    QVERIFY2(!keeper.problem().empty() && keeper.problem().find(problem.toStdString()) != std::string::npos,
             keeper.problem().c_str());
    QVERIFY(listed().empty());
}

QTEST_GUILESS_MAIN(PreviousVersionsTest)

#include "tst_previousversions.moc"
