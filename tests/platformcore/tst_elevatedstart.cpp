// SPDX-License-Identifier: GPL-3.0-or-later
// Started with administrator rights, the editor and tessaly-restore keep
// nothing of the environment through which a user's files would be read: on
// Linux only what a window needs, on Windows all but the variables that
// would have Qt load code or settings from folders the user names. With the
// user's own rights they leave it as it is. Each case starts this program
// again as a child (`--child FOLDER`), which sets up Qt the way main() does
// and reports its environment. What is kept, and whether the child runs
// elevated, is this test's own knowledge, not the code's.
#include "elevation.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace {

// The child: whether the planted folder is among Qt's library paths, and
// its whole environment, one variable a line.
int runChild(int argc, char** argv)
{
    platform::forgetUserEnvironmentIfElevated();
    QCoreApplication application(argc, argv);
    const QString planted = QString::fromLocal8Bit(argv[argc - 1]);
    std::printf("planted-searched=%d\n", QCoreApplication::libraryPaths().contains(planted) ? 1 : 0);
    for (const QString& variable : QProcessEnvironment::systemEnvironment().toStringList())
        std::printf("env %s\n", variable.toLocal8Bit().constData());
    return 0;
}

struct Planted {
    const char* name;
    bool keptElevated; // kept by an elevated program on this system
};

// What a user could set to have a program read files of the user's
// choosing, and what a window needs.
#ifdef _WIN32
constexpr Planted kPlanted[] = {
    {"QT_PLUGIN_PATH", false},  {"QT_QPA_PLATFORM_PLUGIN_PATH", false},
    {"QT_QPA_FONTDIR", false},  {"QT_OPENGL_DLL", false},
    {"QT_LOGGING_CONF", false}, {"QT_XKB_CONFIG_ROOT", false},
    {"TESSALY_OTHER", true},    {"QT_SCALE_FACTOR", true},
};
#else
constexpr Planted kPlanted[] = {
    {"QT_PLUGIN_PATH", false},
    {"QT_QPA_PLATFORM_PLUGIN_PATH", false},
    {"QT_QPA_FONTDIR", false},
    {"QT_LOGGING_CONF", false},
    {"QT_XKB_CONFIG_ROOT", false},
    {"FONTCONFIG_FILE", false},
    {"FONTCONFIG_PATH", false},
    {"FONTCONFIG_SYSROOT", false},
    {"XDG_DATA_DIRS", false},
    {"XDG_CONFIG_HOME", false},
    {"XDG_STATE_HOME", false},
    {"XCURSOR_PATH", false},
    {"XCOMPOSEFILE", false},
    {"XLOCALEDIR", false},
    {"GTK_PATH", false},
    {"GTK_MODULES", false},
    {"GIO_EXTRA_MODULES", false},
    {"DISPLAY", true},
    {"XAUTHORITY", true},
    {"LANG", true},
    {"LANGUAGE", true},
    {"LC_CTYPE", true},
    {"LC_ALL", true},
    {"TZ", true},
    {"TERM", true},
    {"QT_SCALE_FACTOR", true},
    {"QT_QPA_PLATFORM", true},
};
#endif

// Whether a program of this test's own rights runs elevated, found
// otherwise than the code under test finds it.
bool testRunsElevated()
{
#ifdef _WIN32
    // Elevated, the token's Administrators group is enabled; filtered by
    // UAC it is there for denying only.
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    BOOL member = FALSE;
    if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                 &administrators)) {
        CheckTokenMembership(nullptr, administrators, &member);
        FreeSid(administrators);
    }
    return member;
#else
    return ::getuid() == 0 && ::geteuid() == 0;
#endif
}

} // namespace

class ElevatedStartTest : public QObject {
    Q_OBJECT

private slots:
    void environmentIsKeptOnlyAsAWindowNeedsItWhenElevated_data();
    void environmentIsKeptOnlyAsAWindowNeedsItWhenElevated();
};

void ElevatedStartTest::environmentIsKeptOnlyAsAWindowNeedsItWhenElevated_data()
{
    QTest::addColumn<bool>("asAnotherUser");
    QTest::newRow("as this user") << false;
#ifndef _WIN32
    QTest::newRow("as another user") << true;
#endif
}

void ElevatedStartTest::environmentIsKeptOnlyAsAWindowNeedsItWhenElevated()
{
    QFETCH(bool, asAnotherUser);
    QTemporaryDir planted;
    QVERIFY(planted.isValid());
    const QString folder = QDir::cleanPath(planted.path());
    QProcessEnvironment environment;
    for (const Planted& variable : kPlanted)
        environment.insert(QString::fromLatin1(variable.name), folder);
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("QT_SCALE_FACTOR", "1");
    environment.insert("HOME", folder);
    environment.insert("PATH", folder + QDir::listSeparator() + qEnvironmentVariable("PATH"));
#ifdef _WIN32
    // What a Windows program needs to start at all.
    for (const char* name : {"SystemRoot", "WINEPREFIX", "WINEDEBUG", "WINEPATH"})
        if (qEnvironmentVariableIsSet(name))
            environment.insert(name, qEnvironmentVariable(name));
#endif
    QProcess child;
    child.setProcessEnvironment(environment);
    const QString self = QCoreApplication::applicationFilePath();
    bool elevated = testRunsElevated();
    if (asAnotherUser) {
#ifndef _WIN32
        if (::geteuid() != 0)
            QSKIP("needs root to start a child as another user");
        // Readable by that user too.
        QFile::setPermissions(planted.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
        child.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", self, "--child", folder});
        elevated = false;
#endif
    } else {
        child.start(self, {"--child", folder});
    }
    QVERIFY(child.waitForFinished(30000));
    const QString report = QString::fromLocal8Bit(child.readAllStandardOutput()).replace("\r\n", "\n");
    if (asAnotherUser && !report.contains("planted-searched="))
        QSKIP(qPrintable("cannot start a child as another user here: " + child.readAllStandardError()));
    QVERIFY2(report.contains(QString("planted-searched=%1\n").arg(elevated ? 0 : 1)), qPrintable(report));
    for (const Planted& variable : kPlanted) {
        const QString name = QString::fromLatin1(variable.name);
        const QString value = name == "QT_QPA_PLATFORM" ? "offscreen" : name == "QT_SCALE_FACTOR" ? "1" : folder;
        const bool kept = report.contains("\nenv " + name + "=" + value + "\n");
        QVERIFY2(kept == (!elevated || variable.keptElevated), qPrintable(name + " in\n" + report));
    }
#ifndef _WIN32
    // Elevated: the account's own home, and the system's programs only.
    const passwd* account = ::getpwuid(::geteuid());
    QVERIFY(account);
    const QString home = elevated ? QString::fromLocal8Bit(account->pw_dir) : folder;
    QVERIFY2(report.contains("\nenv HOME=" + home + "\n"), qPrintable(report));
    QCOMPARE(report.contains("env PATH=" + folder), !elevated);
#endif
}

int main(int argc, char** argv)
{
    if (argc > 2 && qstrcmp(argv[argc - 2], "--child") == 0)
        return runChild(argc, argv);
    QCoreApplication application(argc, argv);
    ElevatedStartTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_elevatedstart.moc"
