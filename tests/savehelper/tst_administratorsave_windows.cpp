// SPDX-License-Identifier: GPL-3.0-or-later
// Saving with administrator rights on Windows, run for real under wine: the
// helper program with each way it refuses, and the editor's end, whose own
// save a test seam makes report "access denied" (wine grants every write).
// The hosts file is the one of the test's wine prefix.
#include "administratorsave.h"
#include "filehandle_windows.h"
#include "filesave.h"
#include "frmmain.h"
#include "hostslocation.h"
#include "hostsformatter.h"
#include "messagebox.h"
#include "modalguard.h"
#include "namecache.h"
#include "saverequest.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>
#include <sddl.h>

#include <functional>
#include <vector>

using namespace savehelper;
using platform::MessageAnswer;

namespace {

const QByteArray kOld = "# lab\r\n127.0.0.1 localhost\r\n10.0.0.1 alpha\r\n";
const QByteArray kNew = "\r\n127.0.0.1\tlocalhost\r\n10.0.0.1\tnew\r\n";

QString hostsPath()
{
    return QString::fromLocal8Bit(fileaccess::systemHostsFilePath());
}

QByteArray hostsContent()
{
    QFile file(hostsPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    SetFileAttributesW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()), FILE_ATTRIBUTE_NORMAL);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray request(const QByteArray& seen, const QByteArray& content)
{
    const auto snapshot = FileSnapshot::of(std::string_view(seen.constData(), static_cast<std::size_t>(seen.size())));
    return QByteArray::fromStdString(encodeHeader(snapshot, static_cast<std::uint64_t>(content.size()))) + content;
}

QString sha256(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Wine 8's CreateSymbolicLinkW makes nothing, and its DeleteFileW removes
// what a link points at, so under wine links are made and removed with the
// host's ln and rm (wine starts host programs, and resolves such links as
// Windows resolves its own). Returns false where wine is not there.
using UnixName = char*(CDECL*)(LPCWSTR);
UnixName wineUnixName()
{
    return reinterpret_cast<UnixName>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
}

bool runOnHost(const std::wstring& program, const std::vector<std::wstring>& paths, const std::function<bool()>& done)
{
    const UnixName unixName = wineUnixName();
    if (!unixName)
        return false;
    std::wstring command = program;
    for (const std::wstring& path : paths) {
        char* unixPath = unixName(path.c_str());
        command += L" \"" + QString::fromUtf8(unixPath).toStdWString() + L"\"";
        HeapFree(GetProcessHeap(), 0, unixPath);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    // Wine does not wait for a host program: its handle is signalled at once.
    for (int tries = 0; tries < 100 && !done(); ++tries)
        Sleep(50);
    return done();
}

bool makeSymbolicLink(const std::wstring& link, const std::wstring& target)
{
    if (runOnHost(L"/bin/ln -s", {target, link}, [&] { return exists(link); }))
        return true;
    return CreateSymbolicLinkW(link.c_str(), target.c_str(), 0) && exists(link);
}

void removeSymbolicLink(const std::wstring& link)
{
    if (!runOnHost(L"/bin/rm -f", {link}, [&] { return !exists(link); }))
        DeleteFileW(link.c_str());
}

bool runsUnderWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// The access list of a file, in SDDL.
QString accessListOf(const std::wstring& path)
{
    DWORD size = 0;
    GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    std::vector<unsigned char> descriptor(size);
    wchar_t* text = nullptr;
    if (size == 0 || !GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), size, &size)
        || !ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1,
                                                                 DACL_SECURITY_INFORMATION, &text, nullptr))
        return QStringLiteral("<unreadable>");
    const QString sddl = QString::fromWCharArray(text);
    LocalFree(text);
    return sddl;
}

QString currentUserSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    const fileaccess::Handle owned(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    wchar_t* sid = nullptr;
    if (!GetTokenInformation(token, TokenUser, user.data(), size, &size)
        || !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid))
        return {};
    const QString text = QString::fromWCharArray(sid);
    LocalFree(sid);
    return text;
}

} // namespace

class AdministratorSaveTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { closeModalWindowsOnFailure(); }
    void init();
    void cleanup();

    void helperRefusals_data();
    void helperRefusals();
    void helperRefusesALinkedHostsFile();
    void helperOpensOnlyLocalDrivePaths_data();
    void helperOpensOnlyLocalDrivePaths();

    void deniedSaveGoesThroughTheHelper_data();
    void deniedSaveGoesThroughTheHelper();
    void stagedRequestIsHeldWhileTheHelperRuns();
    void helperOfAnotherBuildIsNotStarted();
    void requestIsStagedOnALocalDrive();

private:
    // A main window over the system's hosts file with one entry added;
    // SAVE/CLOSE is pressed and the boxes it showed are returned.
    struct Leaving {
        int ended = 0;
        QList<platform::MessageRequest> boxes;
        QByteArray expected;
        bool keptEdits = false;
    };
    Leaving addAndSave();
    // Runs the helper with these arguments; its exit code.
    static uint runHelper(const QStringList& arguments)
    {
        QProcess helper;
        helper.start(QStringLiteral(TESSALY_SAVE_HELPER), arguments);
        if (!helper.waitForFinished(60000) || helper.exitStatus() != QProcess::NormalExit)
            return ~0u;
        return uint(helper.exitCode());
    }

    std::unique_ptr<QTemporaryDir> scratch_;
    std::vector<std::wstring> staged_;
};

void AdministratorSaveTest::init()
{
    scratch_ = std::make_unique<QTemporaryDir>();
    QVERIFY(scratch_->isValid());
    writeFile(hostsPath(), kOld);
    staged_.clear();
    testing::setHelperProgram(QDir::toNativeSeparators(TESSALY_SAVE_HELPER).toStdWString());
    testing::setStagedHook([this](const std::wstring& path) { staged_.push_back(path); });
    testing::setConsentDeclined(false);
    fileaccess::testing::setAccessDenied(true);
    platform::messagescript::clear();
    platform::messagescript::enable(true);
}

void AdministratorSaveTest::cleanup()
{
    fileaccess::testing::setAccessDenied(false);
    testing::setStagedHook({});
    testing::setConsentDeclined(false);
    writeFile(hostsPath(), kOld);
}

void AdministratorSaveTest::helperRefusals_data()
{
    QTest::addColumn<QString>("folder");    // where the request is staged, below the scratch folder
    QTest::addColumn<QByteArray>("staged"); // the staged request
    QTest::addColumn<QString>("length");    // on the command line; empty: the staged length
    QTest::addColumn<QString>("digest");    // on the command line; empty: the staged SHA-256
    QTest::addColumn<QStringList>("extra"); // more arguments; "-" alone: one argument fewer
    QTest::addColumn<uint>("exitCode");

    const QByteArray good = request(kOld, kNew);
    const QStringList none;
    QTest::newRow("saves") << "" << good << ""
                           << "" << none << uint(HelperExit::Saved);
    // A user name outside the code page puts such letters in the temporary folder.
    QTest::newRow("staged below non-ANSI letters") << QString::fromUtf8("Δοκιμή ǅ") << good << ""
                                                   << "" << none << uint(HelperExit::Saved);
    QTest::newRow("file changed since it was read") << "" << request("# other\r\n", kNew) << ""
                                                    << "" << none << uint(HelperExit::FileChanged);
    QTest::newRow("truncated request") << "" << good.left(good.size() - 3) << ""
                                       << "" << none << uint(HelperExit::RequestRefused);
    QByteArray oversized = good;
    const std::uint64_t tooLong = kMaxContentBytes + 1;
    for (int i = 0; i < 8; ++i)
        oversized[32 + i] = static_cast<char>((tooLong >> (8 * i)) & 0xFF);
    QTest::newRow("oversized request") << "" << oversized << ""
                                       << "" << none << uint(HelperExit::RequestRefused);
    QTest::newRow("not a request") << "" << QByteArray(64, 'x') << ""
                                   << "" << none << uint(HelperExit::RequestRefused);
    QTest::newRow("other SHA-256") << "" << good << "" << sha256(good + "x") << none
                                   << uint(HelperExit::RequestAltered);
    QTest::newRow("other length") << "" << good << QString::number(good.size() + 1) << "" << none
                                  << uint(HelperExit::RequestAltered);
    QTest::newRow("length beyond the limit") << "" << good << "999999999999"
                                             << "" << none << uint(HelperExit::ArgumentsRefused);
    QTest::newRow("upper-case SHA-256") << "" << good << "" << sha256(good).toUpper() << none
                                        << uint(HelperExit::ArgumentsRefused);
    QTest::newRow("extra argument") << "" << good << ""
                                    << "" << QStringList{"C:\\elsewhere\\hosts"} << uint(HelperExit::ArgumentsRefused);
    QTest::newRow("missing argument") << "" << good << ""
                                      << "" << QStringList{"-"} << uint(HelperExit::ArgumentsRefused);
    QTest::newRow("staged path is a folder") << "folder-named-request" << QByteArray() << QString::number(good.size())
                                             << sha256(good) << none << uint(HelperExit::StagedFileRefused);
}

void AdministratorSaveTest::helperRefusals()
{
    QFETCH(QString, folder);
    QFETCH(QByteArray, staged);
    QFETCH(QString, length);
    QFETCH(QString, digest);
    QFETCH(QStringList, extra);
    QFETCH(uint, exitCode);

    QString path = scratch_->filePath(folder.isEmpty() ? QStringLiteral("request") : folder + "/request");
    if (folder == "folder-named-request") {
        path = scratch_->filePath(folder);
        QVERIFY(QDir().mkpath(path));
    } else {
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        writeFile(path, staged);
    }
    QStringList arguments{QDir::toNativeSeparators(path), length.isEmpty() ? QString::number(staged.size()) : length,
                          digest.isEmpty() ? sha256(staged) : digest};
    if (extra == QStringList{"-"})
        arguments.removeLast();
    else
        arguments += extra;

    QCOMPARE(runHelper(arguments), exitCode);
    QCOMPARE(hostsContent(), exitCode == uint(HelperExit::Saved) ? kNew : kOld);
}

void AdministratorSaveTest::helperRefusesALinkedHostsFile()
{
    // A link in place of the hosts file would have the helper write the file
    // it points at.
    const std::wstring hosts = QDir::toNativeSeparators(hostsPath()).toStdWString();
    const QString elsewhere = scratch_->filePath("elsewhere");
    writeFile(elsewhere, kOld);
    QVERIFY(DeleteFileW(hosts.c_str()));
    if (!makeSymbolicLink(hosts, QDir::toNativeSeparators(elsewhere).toStdWString()))
        QSKIP("this system makes no symbolic links here");
    const QByteArray staged = request(kOld, kNew);
    writeFile(scratch_->filePath("request"), staged);
    const uint exitCode = runHelper(
        {QDir::toNativeSeparators(scratch_->filePath("request")), QString::number(staged.size()), sha256(staged)});
    removeSymbolicLink(hosts);
    QCOMPARE(exitCode, uint(HelperExit::Redirected));
    QFile target(elsewhere);
    QVERIFY(target.open(QIODevice::ReadOnly));
    QCOMPARE(target.readAll(), kOld);
}

AdministratorSaveTest::Leaving AdministratorSaveTest::addAndSave()
{
    frmMain window;
    QSignalSpy ending(&window, &frmMain::programEnding);
    window.Form_Load();
    window.findChild<QLineEdit*>("txtHost")->setText("added.example");
    window.findChild<QPushButton*>("cmdAdd")->click();
    window.findChild<QPushButton*>("cmdClose")->click();
    Leaving leaving;
    leaving.ended = ending.count();
    leaving.boxes = platform::messagescript::shown();
    leaving.expected = QByteArray::fromStdString(formatHostsFile(window.headerText(), window.cHosts));
    leaving.keptEdits = window.m_HasChanged && window.cHosts.contains("added.example") && window.isEnabled();
    return leaving;
}

void AdministratorSaveTest::helperOpensOnlyLocalDrivePaths_data()
{
    // How the staged request is named on the command line; LOCAL stands for
    // its real path (C:\...), which the forms around it would still reach.
    // Opened as an administrator, a server or a pipe would learn who opened it.
    QTest::addColumn<QString>("form");
    QTest::newRow("a pipe of the user's") << "PIPE";
    QTest::newRow("a share") << "\\\\tessaly-test.invalid\\share\\request";
    QTest::newRow("a share, with slashes") << "//tessaly-test.invalid/share/request";
    QTest::newRow("WebDAV") << "\\\\tessaly-test.invalid@80\\share\\request";
    QTest::newRow("a share, long form") << "\\\\?\\UNC\\tessaly-test.invalid\\share\\request";
    QTest::newRow("long prefix") << "\\\\?\\LOCAL";
    QTest::newRow("device prefix") << "\\\\.\\LOCAL";
    QTest::newRow("NT prefix") << "\\??\\LOCAL";
    QTest::newRow("slashes") << "SLASHED";
    QTest::newRow("a stream") << "LOCAL:stream";
    QTest::newRow("relative") << "request";
    QTest::newRow("drive-relative") << "C:request";
}

void AdministratorSaveTest::helperOpensOnlyLocalDrivePaths()
{
    QFETCH(QString, form);
    const QByteArray staged = request(kOld, kNew);
    const QString local = QDir::toNativeSeparators(scratch_->filePath("request"));
    writeFile(local, staged);
    // The same request by its plain path saves: only the form is refused.
    QVERIFY(local.startsWith(QStringLiteral("C:\\"), Qt::CaseInsensitive));

    const std::wstring pipeName = L"\\\\.\\pipe\\tessaly-test-" + std::to_wstring(GetCurrentProcessId());
    const fileaccess::Handle pipe(CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                                   PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr));
    QVERIFY(pipe.valid());
    const fileaccess::Handle connected(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED waiting{};
    waiting.hEvent = connected.get();
    const bool atOnce = ConnectNamedPipe(pipe.get(), &waiting);
    QVERIFY(!atOnce && GetLastError() == ERROR_IO_PENDING);

    QString path = form;
    path.replace("PIPE", QString::fromStdWString(pipeName));
    path.replace("SLASHED", QString(local).replace('\\', '/'));
    path.replace("LOCAL", local);
    const uint exitCode = runHelper({path, QString::number(staged.size()), sha256(staged)});
    const bool clientCame = WaitForSingleObject(connected.get(), 0) == WAIT_OBJECT_0;
    CancelIo(pipe.get());
    QCOMPARE(exitCode, uint(HelperExit::ArgumentsRefused));
    QVERIFY2(!clientCame, "the helper opened the pipe");
    QCOMPARE(hostsContent(), kOld);
}

void AdministratorSaveTest::deniedSaveGoesThroughTheHelper_data()
{
    QTest::addColumn<bool>("denied"); // the editor's own save is refused
    QTest::addColumn<bool>("declined");
    QTest::addColumn<bool>("readOnly");  // the helper's own save fails
    QTest::addColumn<QString>("reason"); // of the error box; empty: saved
    QTest::newRow("writable: no helper") << false << false << false << "";
    QTest::newRow("helper saves") << true << false << false << "";
    QTest::newRow("consent declined") << true << true << false << "Authentication was cancelled or refused";
    QTest::newRow("helper fails") << true << false << true
                                  << hostsPath()
            + " is read-only. Clear its read-only attribute (in its properties) to save it.";
}

void AdministratorSaveTest::deniedSaveGoesThroughTheHelper()
{
    QFETCH(bool, denied);
    QFETCH(bool, declined);
    QFETCH(bool, readOnly);
    QFETCH(QString, reason);
    fileaccess::testing::setAccessDenied(denied);
    testing::setConsentDeclined(declined);
    const std::wstring hosts = QDir::toNativeSeparators(hostsPath()).toStdWString();
    if (readOnly)
        QVERIFY(SetFileAttributesW(hosts.c_str(), FILE_ATTRIBUTE_READONLY));
    const int flushes = fileaccess::testing::nameCacheFlushRequests();

    const Leaving leaving = addAndSave();

    QCOMPARE(staged_.size(), denied ? std::size_t{1} : std::size_t{0});
    if (denied)
        QVERIFY2(!exists(staged_[0]), "the staged request is left behind");
    if (reason.isEmpty()) {
        QVERIFY(leaving.boxes.isEmpty());
        QCOMPARE(leaving.ended, 1);
        QCOMPARE(hostsContent(), leaving.expected);
        QCOMPARE(fileaccess::testing::nameCacheFlushRequests(), flushes + 1);
        return;
    }
    QCOMPARE(leaving.ended, 0);
    QVERIFY(leaving.keptEdits);
    QCOMPARE(hostsContent(), kOld);
    QCOMPARE(leaving.boxes.size(), 1);
    QCOMPARE(leaving.boxes[0].title, "Error");
    QCOMPARE(leaving.boxes[0].prompt, "The hosts file could not be saved:\r\n" + hostsPath() + "\r\n\r\n" + reason);
    QCOMPARE(fileaccess::testing::nameCacheFlushRequests(), flushes);
}

void AdministratorSaveTest::stagedRequestIsHeldWhileTheHelperRuns()
{
    bool checked = false;
    testing::setStagedHook([&](const std::wstring& path) {
        staged_.push_back(path);
        // Read sharing only: no second writer, no rename, no deletion.
        const HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
        QCOMPARE(writer, INVALID_HANDLE_VALUE);
        QCOMPARE(GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
        QVERIFY(!MoveFileW(path.c_str(), (path + L".moved").c_str()));
        QVERIFY(!DeleteFileW(path.c_str()));
        // Another process fares no better.
        const QString native = QString::fromStdWString(path);
        QProcess::execute("cmd.exe", {"/c", "move", "/y", native, native + ".moved"});
        QProcess::execute("cmd.exe", {"/c", "echo tampered>" + native});
        QVERIFY(exists(path));
        QVERIFY(!exists(path + L".moved"));
        // Only the user may write it, only administrators and SYSTEM read it
        // besides, and nothing is inherited from the folder. Wine keeps no
        // access list of a file: there the one the editor gives is checked.
        const QString promised = "D:P(A;;FA;;;" + currentUserSid() + ")(A;;FR;;;BA)(A;;FR;;;SY)";
        QCOMPARE(QString::fromStdWString(testing::stagedRequestAccess()), promised);
        if (!runsUnderWine())
            QCOMPARE(accessListOf(path), promised);
        checked = true;
    });
    const Leaving leaving = addAndSave();
    QVERIFY(checked);
    QCOMPARE(leaving.ended, 1);
    QCOMPARE(hostsContent(), leaving.expected);
    QVERIFY(!exists(staged_.at(0)));
}

void AdministratorSaveTest::helperOfAnotherBuildIsNotStarted()
{
    // A copy of the helper with one byte more: any program of the user
    // could have put it there. It is refused before anything is staged.
    const QString copy = scratch_->filePath("tessaly-save-helper.exe");
    QFile original(QStringLiteral(TESSALY_SAVE_HELPER));
    QVERIFY(original.open(QIODevice::ReadOnly));
    writeFile(copy, original.readAll() + '\0');
    testing::setHelperProgram(QDir::toNativeSeparators(copy).toStdWString());

    const Leaving leaving = addAndSave();

    QVERIFY(staged_.empty());
    QCOMPARE(leaving.ended, 0);
    QVERIFY(leaving.keptEdits);
    QCOMPARE(hostsContent(), kOld);
    QCOMPARE(leaving.boxes.size(), 1);
    QVERIFY2(leaving.boxes[0].prompt.contains("is not the one built with this Tessaly (its SHA-256 differs), so it "
                                              "was not started."),
             qPrintable(leaving.boxes[0].prompt));
}

void AdministratorSaveTest::requestIsStagedOnALocalDrive()
{
    // A temporary folder on a share (a roaming profile) is passed over for a
    // folder of Tessaly's own below the local application data: the helper
    // opens only local paths, and the save still succeeds.
    wchar_t previous[MAX_PATH + 1] = {};
    GetEnvironmentVariableW(L"TMP", previous, MAX_PATH + 1);
    SetEnvironmentVariableW(L"TMP", L"\\\\tessaly-test.invalid\\share\\temp");
    const Leaving leaving = addAndSave();
    SetEnvironmentVariableW(L"TMP", previous[0] ? previous : nullptr);
    QCOMPARE(staged_.size(), std::size_t{1});
    const QString local = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString staged = QString::fromStdWString(staged_[0]);
    QVERIFY2(staged.startsWith(QDir::toNativeSeparators(local) + "\\Tessaly\\tessaly-save-", Qt::CaseInsensitive),
             qPrintable(staged));
    QCOMPARE(leaving.ended, 1);
    QCOMPARE(hostsContent(), leaving.expected);
}

QTEST_MAIN(AdministratorSaveTest)
#include "tst_administratorsave_windows.moc"
