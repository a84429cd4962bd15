// SPDX-License-Identifier: GPL-3.0-or-later
// Keeping previous versions of the hosts file: exact copies, named for the
// time and never over one another, always the newest, once per distinct
// content, within the count and size bounds once the save is confirmed,
// nothing left behind, and only in a folder that is the user's own.
#include "previousversions.h"
#include "testfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>

#ifdef _WIN32
#include <windows.h>
#else
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
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

enum class Save { Confirmed, Unconfirmed };

// Keeps `bytes`, fed in two chunks as a save reads them, with the clock at
// `now`, for a save that is then confirmed (or not).
fs::path keep(std::string_view bytes, std::int64_t now, bool* kept = nullptr, Save save = Save::Confirmed)
{
    previousversions::testing::setKeepingTime(now);
    PreviousVersionKeeper keeper;
    keeper.feed(bytes.substr(0, bytes.size() / 2));
    keeper.feed(bytes.substr(bytes.size() / 2));
    const bool ok = keeper.keep();
    if (ok && save == Save::Confirmed)
        keeper.saveConfirmed();
    previousversions::testing::setKeepingTime(std::nullopt);
    if (kept)
        *kept = ok;
    return keeper.keptAs();
}

// A file of `size` bytes that takes no room (a sparse file).
void placeFile(const fs::path& path, std::uint64_t size)
{
    {
        std::ofstream created(path, std::ios::binary);
    }
    fs::resize_file(path, size);
}

void placeVersion(const fs::path& folder, std::int64_t keptAt, std::uint64_t size)
{
    placeFile(folder / previousversions::keptVersionName(keptAt, 1), size);
}

// Sets a file's modification time, as a program that started at `seconds`
// would have left it.
void setModified(const fs::path& path, std::int64_t seconds)
{
    const auto time = std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(seconds)));
    fs::last_write_time(path, time);
}

// Every name in the folder, its hidden ones too.
QStringList namesIn(const fs::path& folder)
{
    QStringList names = QDir(QString::fromStdWString(folder.wstring()))
                            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

QString nameOf(const fs::path& path)
{
    return QString::fromStdWString(path.filename().wstring());
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
    void nothingIsRemovedUntilTheSaveIsConfirmed();
    void aNewVersionIsTheNewestWhenTheClockIsBehind();
    void nothingButVersionsIsLeftBehind();
    void unfinishedVersionsGoAtTheNextKeepAndCountUntilThen();
    void onlyAFolderOfTheUsersOwnIsUsed_data();
    void onlyAFolderOfTheUsersOwnIsUsed();
    void theStartingFolderMayLieBelowALink();
#ifndef _WIN32
    void aLinkAnywhereBelowTheHomeFolderIsRefused_data();
    void aLinkAnywhereBelowTheHomeFolderIsRefused();
    void rootsFolderComesFromTheAccountDatabase();
#endif

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
#ifndef _WIN32
    // A folder others may read is narrowed to the user's alone.
    fs::create_directories(folder());
    fs::permissions(folder(),
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read
                        | fs::perms::others_exec);
#endif
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

void PreviousVersionsTest::nothingIsRemovedUntilTheSaveIsConfirmed()
{
    for (int i = 0; i < int(previousversions::kKeptVersionsAtMost); ++i)
        keep("version " + std::to_string(i) + "\n", kMorning + i);
    const QString oldest = QString::fromStdString(listed().back().name);

    // The save that keeps the 21st fails, or is not confirmed on disk:
    // everything kept before is still there, the one asked for included.
    bool kept = false;
    const fs::path unconfirmed = keep("the file as it was\n", kMorning + 100, &kept, Save::Unconfirmed);
    QVERIFY(kept && fs::exists(unconfirmed));
    QCOMPARE(listed().size(), previousversions::kKeptVersionsAtMost + 1);
    QVERIFY(namesIn(folder()).contains(oldest));

    // Confirmed, exactly the newest 20 stay.
    keep("confirmed\n", kMorning + 101);
    const std::vector<KeptVersion> versions = listed();
    QCOMPARE(versions.size(), previousversions::kKeptVersionsAtMost);
    QVERIFY(!namesIn(folder()).contains(oldest));
    QVERIFY(fs::exists(unconfirmed));

    // The version just kept is never removed, even when others kept newer
    // ones meanwhile (another editor, a clock that went back).
    PreviousVersionKeeper keeper;
    keeper.feed("kept by this save\n");
    QVERIFY(keeper.keep());
    for (int i = 0; i < int(previousversions::kKeptVersionsAtMost); ++i)
        placeVersion(folder(), kMorning + 1000000000 + i, 10);
    keeper.saveConfirmed();
    QVERIFY(fs::exists(keeper.keptAs()));
    QCOMPARE(listed().size(), previousversions::kKeptVersionsAtMost + 1);
}

void PreviousVersionsTest::aNewVersionIsTheNewestWhenTheClockIsBehind()
{
    const fs::path ahead = keep("kept while the clock ran ahead\n", kMorning + 3600);
    // The clock put back: the next name follows the newest one, whose bytes
    // stay, and the file's own time tells when it really was kept.
    const fs::path behind = keep("kept after it was put back\n", kMorning);
    QCOMPARE(nameOf(behind), QString::fromStdString(previousversions::keptVersionName(kMorning + 3601, 1)));
    QCOMPARE(contentOf(ahead), "kept while the clock ran ahead\n");
    QCOMPARE(contentOf(behind), "kept after it was put back\n");
    const std::vector<KeptVersion> versions = listed();
    QCOMPARE(versions.size(), 2u);
    QCOMPARE(QString::fromStdString(versions[0].name), nameOf(behind));
    QVERIFY(versions[0].namedAhead());
    QCOMPARE(versions[0].modified, kMorning);
    QVERIFY(!versions[1].namedAhead());
    // Not a suffix in that second, which would run out.
    QCOMPARE(nameOf(keep("again\n", kMorning + 1)),
             QString::fromStdString(previousversions::keptVersionName(kMorning + 3602, 1)));
}

void PreviousVersionsTest::nothingButVersionsIsLeftBehind()
{
    const fs::path first = keep("a\n", kMorning);
    // The same bytes as the newest: nothing new stays.
    bool kept = false;
    QVERIFY(keep("a\n", kMorning + 1, &kept).empty());
    QVERIFY(kept);
    // A keep that is abandoned (the save stopped before it) leaves nothing.
    {
        PreviousVersionKeeper abandoned;
        abandoned.feed("never kept\n");
    }
    QCOMPARE(namesIn(folder()), QStringList{nameOf(first)});
}

void PreviousVersionsTest::unfinishedVersionsGoAtTheNextKeepAndCountUntilThen()
{
    fs::create_directories(folder());
    // One a killed keep left long ago, one another editor may be writing
    // now, and a file of another naming.
    placeFile(folder() / ".partial-Old123", 10);
    setModified(folder() / ".partial-Old123", kMorning - 86400);
    placeFile(folder() / ".partial-Now456", 200u << 20);
    setModified(
        folder() / ".partial-Now456",
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count()
            + 3600);
    placeFile(folder() / ".partial-mine-too", 10);
    placeVersion(folder(), kMorning, 40u << 20);
    placeVersion(folder(), kMorning + 1, 40u << 20);
    const fs::path kept = keep("small\n", kMorning + 2);
    // 200 MiB unfinished, the new one and the newer 40 MiB fit in 256 MiB;
    // the older 40 MiB does not.
    QCOMPARE(namesIn(folder()),
             (QStringList{".partial-Now456", ".partial-mine-too",
                          QString::fromStdString(previousversions::keptVersionName(kMorning + 1, 1)), nameOf(kept)}));
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
    QTest::newRow("the versions' folder a symbolic link") << "link previous"
                                                          << "is a symbolic link";
    QTest::newRow("Tessaly's folder a symbolic link") << "link tessaly"
                                                      << "is a symbolic link";
    QTest::newRow("another user's folder") << "other user"
                                           << "belongs to another user";
#endif
}

void PreviousVersionsTest::onlyAFolderOfTheUsersOwnIsUsed()
{
    QFETCH(QString, setUp);
    QFETCH(QString, problem);
    const fs::path elsewhere = pathOf(directory_->filePath("elsewhere"));
    fs::create_directories(elsewhere);
    fs::create_directories(folder().parent_path().parent_path());
    const QByteArray home = qgetenv("HOME");
    const QByteArray state = qgetenv("XDG_STATE_HOME");
    if (setUp == "none") {
#ifndef _WIN32
        if (::geteuid() == 0)
            QSKIP("root's folder comes from the account database, not from HOME");
#endif
        previousversions::testing::setStateFolder(std::nullopt);
        qunsetenv("HOME");
        qunsetenv("XDG_STATE_HOME");
    } else if (setUp == "file") {
        fs::create_directories(folder().parent_path());
        std::ofstream(folder()) << "x";
    } else if (setUp == "link previous") {
        fs::create_directories(folder().parent_path());
        fs::create_directory_symlink(elsewhere, folder());
    } else if (setUp == "link tessaly") {
        fs::create_directory_symlink(elsewhere, folder().parent_path());
    } else {
#ifndef _WIN32
        if (::geteuid() != 0)
            QSKIP("needs root, to give a folder to another user");
        fs::create_directories(folder().parent_path());
        QCOMPARE(::chown(folder().parent_path().c_str(), 65534, 65534), 0);
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
    // Nothing was made where a link points.
    QVERIFY(namesIn(elsewhere).isEmpty());
}

void PreviousVersionsTest::theStartingFolderMayLieBelowALink()
{
    // A home under a linked /home: the starting folder is taken as it is.
    const fs::path real = pathOf(directory_->filePath("real"));
    fs::create_directories(real);
    const fs::path linked = pathOf(directory_->filePath("linked"));
    std::error_code error;
    fs::create_directory_symlink(real, linked, error);
    if (error)
        QSKIP("no symbolic links here");
    previousversions::testing::setStateFolder(linked / "state");
    const fs::path kept = keep("127.0.0.1 localhost\n", kMorning);
    QCOMPARE(contentOf(kept), "127.0.0.1 localhost\n");
    QVERIFY(fs::exists(real / "state" / kept.parent_path().parent_path().filename() / "previous" / kept.filename()));
}

#ifndef _WIN32
void PreviousVersionsTest::aLinkAnywhereBelowTheHomeFolderIsRefused_data()
{
    QTest::addColumn<QString>("link"); // the part of ~/.local/state/tessaly/previous that is a link
    QTest::addColumn<QString>("said");
    QTest::newRow("none") << "" << "kept";
    QTest::newRow(".local") << ".local" << "is a symbolic link";
    QTest::newRow("state") << ".local/state" << "is a symbolic link";
}

void PreviousVersionsTest::aLinkAnywhereBelowTheHomeFolderIsRefused()
{
    // Walked from HOME one folder at a time, by a user (as root, another
    // one: root's own folder comes from the account database).
    QFETCH(QString, link);
    QFETCH(QString, said);
    const QString home = directory_->filePath("home");
    const QString elsewhere = directory_->filePath("elsewhere");
    QVERIFY(QDir().mkpath(home + "/.local/state") && QDir().mkpath(elsewhere));
    if (!link.isEmpty()) {
        QVERIFY(QDir(home + "/" + link).removeRecursively());
        QVERIFY(QFile::link(elsewhere, home + "/" + link));
    }
    QStringList command{QCoreApplication::applicationFilePath(), "--keep-as-child"};
    if (::geteuid() == 0) {
        QCOMPARE(::chmod(QFile::encodeName(directory_->path()).constData(), 0755), 0);
        for (const QString& path : {home, home + "/.local", home + "/.local/state", elsewhere})
            if (QFileInfo(path).exists() || QFileInfo(path).isSymLink())
                QCOMPARE(::lchown(QFile::encodeName(path).constData(), 65534, 65534), 0);
        command = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups"} + command;
        command.prepend("setpriv");
    }
    QProcess child;
    QProcessEnvironment environment;
    environment.insert("HOME", home);
    child.setProcessEnvironment(environment);
    child.start(command.takeFirst(), command);
    QVERIFY(child.waitForFinished(30000));
    const QString answer = QString::fromLocal8Bit(child.readAllStandardOutput());
    QVERIFY2(answer.contains(said), qPrintable(answer + child.readAllStandardError()));
    QVERIFY(namesIn(pathOf(elsewhere)).isEmpty());
    QCOMPARE(QFileInfo::exists(home + "/.local/state/tessaly/previous"), link.isEmpty());
}

void PreviousVersionsTest::rootsFolderComesFromTheAccountDatabase()
{
    // Run as root with a user's HOME or XDG_STATE_HOME (sudo -E, su): root
    // keeps its versions in its own home, never in the user's.
    previousversions::testing::setStateFolder(std::nullopt);
    const QByteArray home = qgetenv("HOME");
    const QByteArray state = qgetenv("XDG_STATE_HOME");
    qputenv("HOME", QFile::encodeName(directory_->filePath("user")));
    qputenv("XDG_STATE_HOME", QFile::encodeName(directory_->filePath("user/.local/state")));
    const previousversions::FolderLocation location = previousversions::versionsFolder();
    qputenv("HOME", home);
    qputenv("XDG_STATE_HOME", state);
    QVERIFY(location.problem.empty());
    const passwd* account = ::getpwuid(::geteuid());
    QVERIFY(account);
    const fs::path expected = ::geteuid() == 0 ? fs::path(account->pw_dir) / ".local/state/tessaly/previous"
                                               : pathOf(directory_->filePath("user/.local/state/tessaly/previous"));
    QCOMPARE(QString::fromStdString(location.path.string()), QString::fromStdString(expected.string()));
}
#endif

int main(int argc, char** argv)
{
    // A keep by this program's own user and environment, for the tests that
    // need them to differ from the test's.
    if (argc == 2 && qstrcmp(argv[1], "--keep-as-child") == 0) {
        PreviousVersionKeeper keeper;
        keeper.feed("127.0.0.1 localhost\n");
        std::printf("%s\n", keeper.keep() ? "kept" : keeper.problem().c_str());
        return 0;
    }
    QCoreApplication application(argc, argv);
    PreviousVersionsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_previousversions.moc"
