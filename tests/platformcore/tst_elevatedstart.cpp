// SPDX-License-Identifier: GPL-3.0-or-later
// Started with administrator rights, the editor forgets the variables that
// would have Qt load code or settings from folders the user names; with the
// user's own rights it leaves them, as Qt does. Each case starts this
// program again as a child (`--child`), which sets up Qt the way main() does
// and reports what Qt was left with.
#include "elevation.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

// The child: reports whether the planted folder is among Qt's library paths,
// and which of the variables are still set, one a line.
int runChild(int argc, char** argv)
{
    platform::forgetUserLoadPathsIfElevated();
    QCoreApplication application(argc, argv);
    const QString planted = qEnvironmentVariable("TESSALY_PLANTED");
    std::printf("elevated=%d\n", platform::runsElevated() ? 1 : 0);
    std::printf("planted-searched=%d\n", QCoreApplication::libraryPaths().contains(planted) ? 1 : 0);
    for (const std::string_view name : platform::userLoadPathVariables()) {
        const QByteArray variable(name.data(), qsizetype(name.size()));
        if (qEnvironmentVariableIsSet(variable.constData()))
            std::printf("set=%s\n", variable.constData());
    }
    std::printf("platform=%s\n", qgetenv("QT_QPA_PLATFORM").constData());
    return 0;
}

} // namespace

class ElevatedStartTest : public QObject {
    Q_OBJECT

private slots:
    void variablesAreForgottenOnlyWhenElevated_data();
    void variablesAreForgottenOnlyWhenElevated();
};

void ElevatedStartTest::variablesAreForgottenOnlyWhenElevated_data()
{
    QTest::addColumn<bool>("asAnotherUser");
    QTest::newRow("as this user") << false;
#ifndef _WIN32
    QTest::newRow("as another user") << true;
#endif
}

void ElevatedStartTest::variablesAreForgottenOnlyWhenElevated()
{
    QFETCH(bool, asAnotherUser);
    QTemporaryDir planted;
    QVERIFY(planted.isValid());
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString folder = QDir::cleanPath(planted.path());
    environment.insert("TESSALY_PLANTED", folder);
    for (const std::string_view name : platform::userLoadPathVariables())
        environment.insert(QString::fromLatin1(name.data(), qsizetype(name.size())), folder);
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    child.setProcessEnvironment(environment);
    const QString self = QCoreApplication::applicationFilePath();
    bool elevated = platform::runsElevated();
    if (asAnotherUser) {
#ifndef _WIN32
        if (::geteuid() != 0)
            QSKIP("needs root to start a child as another user");
        // Readable by that user too.
        QFile::setPermissions(planted.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
        child.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", self, "--child"});
        elevated = false;
#endif
    } else {
        child.start(self, {"--child"});
    }
    QVERIFY(child.waitForFinished(30000));
    const QString report = QString::fromLocal8Bit(child.readAllStandardOutput()).replace("\r\n", "\n");
    if (asAnotherUser && !report.contains("elevated="))
        QSKIP(qPrintable("cannot start a child as another user here: " + child.readAllStandardError()));
    QVERIFY2(report.contains(QString("elevated=%1\n").arg(elevated ? 1 : 0)), qPrintable(report));
    QVERIFY2(report.contains(QString("planted-searched=%1\n").arg(elevated ? 0 : 1)), qPrintable(report));
    for (const std::string_view name : platform::userLoadPathVariables()) {
        const QString line = "set=" + QString::fromLatin1(name.data(), qsizetype(name.size())) + "\n";
        QVERIFY2(report.contains(line) != elevated, qPrintable(report));
    }
    // The platform is picked by name among the installed ones: it stays.
    QVERIFY2(report.contains("platform=offscreen\n"), qPrintable(report));
}

int main(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[argc - 1], "--child") == 0)
        return runChild(argc, argv);
    QCoreApplication application(argc, argv);
    ElevatedStartTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_elevatedstart.moc"
