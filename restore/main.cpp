// SPDX-License-Identifier: GPL-3.0-or-later
// tessaly-restore: lists the previous versions of the hosts file that
// Tessaly keeps before every save, and puts one back.
#include "hostslocation.h"
#include "restorecommand.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <csignal>
#include <cstdio>

int main(int argc, char* argv[])
{
#ifdef SIGXFSZ
    // A file size limit must not kill a restore half way: the write fails
    // instead, and the old bytes are put back.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
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
                                  QStringLiteral("List the kept versions, newest first (also with no argument)."));
    parser.addOption(list);
    parser.addPositionalArgument(QStringLiteral("version"),
                                 QStringLiteral("The number of a kept version, as --list shows it, or the path of a "
                                                "file to put back as the hosts file."),
                                 QStringLiteral("[N | file]"));
    parser.process(application);

    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() > 1 || (parser.isSet(list) && !arguments.isEmpty())) {
        err << "tessaly-restore takes one version to restore, or --list. See tessaly-restore --help.\n";
        return restore::kUsage;
    }
    if (arguments.isEmpty())
        return restore::listVersions(out, err);
    return restore::restoreVersion(arguments.first(), fileaccess::systemHostsFilePath(), out, err);
}
