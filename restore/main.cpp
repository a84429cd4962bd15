// SPDX-License-Identifier: GPL-3.0-or-later
// tessaly-restore: lists the previous versions of the hosts file that
// Tessaly keeps before every save, shows one, and puts one back.
#include "elevation.h"
#include "filetext.h"
#include "hostslocation.h"
#include "restorecommand.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <exception>

namespace {

int run(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaly-restore"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSALY_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Puts a previous version of the hosts file back, byte for byte. Tessaly keeps the file as it was\n"
        "before each save; what the hosts file holds when it is restored is kept the same way."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption list(QStringList{QStringLiteral("l"), QStringLiteral("list")},
                                  QStringLiteral("List the kept versions, newest first, with their numbers and file "
                                                 "names (also with no argument)."));
    parser.addOption(list);
    const QCommandLineOption show(
        QStringLiteral("show"),
        QStringLiteral("Write a kept version to standard output byte for byte (to compare it with diff), and change "
                       "nothing."),
        QStringLiteral("N | name"));
    parser.addOption(show);
    parser.addPositionalArgument(QStringLiteral("version"),
                                 QStringLiteral("The number of a kept version or its file's name, as --list shows "
                                                "them, or the path of a file to put back as the hosts file "
                                                "(./name for a file of a version's name in this folder)."),
                                 QStringLiteral("[N | name | file]"));
    parser.process(application);

    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList arguments = parser.positionalArguments();
    const int asked = (parser.isSet(list) ? 1 : 0) + (parser.isSet(show) ? 1 : 0) + (arguments.isEmpty() ? 0 : 1);
    if (arguments.size() > 1 || asked > 1) {
        err << "tessaly-restore takes one version to restore, --show with one version, or --list. See "
               "tessaly-restore --help.\n";
        return restore::kUsage;
    }
    if (parser.isSet(show)) {
        platform::writeStandardOutputAsBytes();
        return restore::showVersion(parser.value(show), stdout, err);
    }
    if (arguments.isEmpty())
        return restore::listVersions(out, err);
    return restore::restoreVersion(arguments.first(), fileaccess::systemHostsFilePath(), out, err);
}

} // namespace

int main(int argc, char* argv[])
{
#ifdef SIGXFSZ
    // A file size limit must not kill a restore half way: the write fails
    // instead, and the old bytes are put back.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    platform::forgetUserEnvironmentIfElevated();
    // A reason and exit code 1 for whatever goes wrong, never an abort.
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tessaly-restore stopped on an unexpected error: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "tessaly-restore stopped on an unexpected error.\n");
    }
    return restore::kNotRestored;
}
