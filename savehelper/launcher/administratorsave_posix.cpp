// SPDX-License-Identifier: GPL-3.0-or-later
#include "administratorsave.h"

#include "saverequest.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>

namespace savehelper {

using fileaccess::FileSnapshot;
using fileaccess::SaveOutcome;

namespace {

// The system's own pkexec, by its absolute path: one found through PATH
// could be a program of the user's that collects the password.
std::string& pkexecProgram()
{
    static std::string path = TESSALY_PKEXEC;
    return path;
}

// pkexec's exit codes when it did not run the program.
constexpr int kAuthenticationDismissed = 126;
constexpr int kNotAuthorized = 127;

// The helper installed under the same prefix as the program (bin/ and
// libexec/tessaly/ side by side, whatever the prefix); from a build tree, the
// one built beside the editor (or beside tessaly-restore's folder).
QString saveHelperPath()
{
    const QString programs = QCoreApplication::applicationDirPath();
    const QString installed =
        QFileInfo(programs + QStringLiteral("/../libexec/tessaly/tessaly-save-helper")).absoluteFilePath();
    if (QFileInfo::exists(installed))
        return installed;
    for (const QString& built : {programs + QStringLiteral("/savehelper/tessaly-save-helper"),
                                 programs + QStringLiteral("/../savehelper/tessaly-save-helper")})
        if (QFileInfo::exists(built))
            return QFileInfo(built).absoluteFilePath();
    return installed;
}

} // namespace

bool canSaveWithAdministratorRights()
{
#ifdef __linux__
    return true;
#else
    return false;
#endif
}

SaveOutcome saveWithAdministratorRights(const FileSnapshot& expected, std::string_view content)
{
    const QString pkexec = QString::fromStdString(pkexecProgram());
    if (!QFileInfo(pkexec).isExecutable())
        return {false,
                "Saving needs administrator rights, and pkexec, which asks for them, is not installed ("
                    + pkexecProgram() + ")."};

    QProcess helper;
    helper.setProgram(pkexec);
    helper.setArguments({saveHelperPath()});
    QEventLoop waiting;
    QObject::connect(&helper, &QProcess::finished, &waiting, &QEventLoop::quit);
    helper.start();
    if (!helper.waitForStarted())
        return {false, "pkexec could not be started: " + helper.errorString().toStdString()};
    const std::string header = encodeHeader(expected, content.size());
    helper.write(header.data(), static_cast<qint64>(header.size()));
    helper.write(content.data(), static_cast<qint64>(content.size()));
    helper.closeWriteChannel();
    if (helper.state() != QProcess::NotRunning)
        waiting.exec(QEventLoop::ExcludeUserInputEvents);

    const QByteArray answer = helper.readAllStandardOutput().trimmed();
    const std::string_view line(answer.constData(), static_cast<std::size_t>(answer.size()));
    if (helper.exitStatus() == QProcess::NormalExit && helper.exitCode() == 0 && line == kSavedLine)
        return {true, {}};
    if (line.starts_with(kErrorPrefix))
        return {false, std::string(line.substr(kErrorPrefix.size()))};
    if (line.starts_with(kUnconfirmedPrefix)) {
        SaveOutcome unconfirmed{true, std::string(line.substr(kUnconfirmedPrefix.size()))};
        unconfirmed.confirmedOnDisk = false;
        return unconfirmed;
    }
    if (helper.exitStatus() == QProcess::NormalExit
        && (helper.exitCode() == kAuthenticationDismissed || helper.exitCode() == kNotAuthorized)) {
        const QByteArray complaint = helper.readAllStandardError();
        // Neither a desktop agent nor a terminal to ask on (pkexec asks on
        // the controlling terminal where no agent runs).
        if (complaint.contains("No authentication agent found"))
            return {false,
                    "pkexec could not ask for administrator rights: no polkit authentication agent is "
                    "running, and there is no terminal to ask on"};
        // Not a refusal: polkit is not running, or there is no helper to run.
        if (complaint.contains("Error getting authority") || complaint.contains("Cannot run program"))
            return {false,
                    "pkexec could not ask for administrator rights: "
                        + complaint.left(complaint.indexOf('\n')).trimmed().toStdString()};
        return {false, "Authentication was cancelled or refused"};
    }
    return {false, "The save helper ended without an answer: " + helper.readAllStandardError().trimmed().toStdString()};
}

namespace testing {
void setPkexecProgram(const std::string& path)
{
    pkexecProgram() = path.empty() ? std::string(TESSALY_PKEXEC) : path;
}
} // namespace testing

} // namespace savehelper
