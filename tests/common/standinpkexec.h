// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A private /etc/hosts and a stand-in pkexec, for tests of saving through the
// save helper. As root, enterPrivateHostsFile() moves the process into a
// private mount namespace whose /etc/hosts is a test file that can be made
// immutable (so that even root's own save is refused), and has the editor
// start, instead of pkexec, a stand-in that records the request and answers
// as STANDIN_ANSWER tells: saved, error, unconfirmed, changed (the file
// changed since it was read), refused, no-polkit or no-agent (no
// authentication agent and no terminal to ask on).
// Call it before Qt starts a thread: a mount namespace is per process only
// then.

#include "administratorsave.h"
#include "unwritablefile.h"

#include <QFile>
#include <QTemporaryDir>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace standin {

inline const QByteArray kFile = "# lab\n127.0.0.1 localhost\n10.0.0.1 alpha\n";

using unwritable::setImmutable;

// Set up by main() before Qt starts: empty when the test cannot run here.
inline QString scratch;
inline QString whyNot;

inline void enterPrivateHostsFile(QTemporaryDir& directory)
{
    if (::geteuid() != 0) {
        whyNot = "needs root for a private mount namespace";
        return;
    }
    const QString hosts = directory.filePath("hosts");
    QFile file(hosts);
    if (!file.open(QIODevice::WriteOnly) || file.write(kFile) != kFile.size()) {
        whyNot = "cannot write the test file";
        return;
    }
    file.close();
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || ::mount(QFile::encodeName(hosts).constData(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) {
        whyNot = "mount namespaces are not available here";
        return;
    }
    if (!setImmutable(hosts, true) || !setImmutable(hosts, false)) {
        whyNot = "this file system cannot make a file immutable";
        return;
    }
    QFile standIn(directory.filePath("pkexec"));
    if (!standIn.open(QIODevice::WriteOnly))
        return;
    standIn.write("#!/bin/sh\n"
                  "cat > \"$STANDIN_DIR/request\"\n"
                  "printf '%s' \"$*\" > \"$STANDIN_DIR/arguments\"\n"
                  "case \"$STANDIN_ANSWER\" in\n"
                  "saved) echo saved; exit 0 ;;\n"
                  "error) echo 'error: Cannot write /etc/hosts: No space left on device'; exit 1 ;;\n"
                  "unconfirmed) echo 'unconfirmed: Input/output error'; exit 3 ;;\n"
                  "changed) echo 'error: The hosts file /etc/hosts was changed by another program after Tessaly"
                  " read it.'; exit 2 ;;\n"
                  "refused) exit 126 ;;\n"
                  "no-polkit) echo 'Error getting authority: Could not connect' >&2; exit 127 ;;\n"
                  "no-agent) echo 'Error executing command as another user: No authentication agent found.' >&2;"
                  " exit 127 ;;\n"
                  "esac\n"
                  "exit 127\n");
    standIn.close();
    standIn.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    savehelper::testing::setPkexecProgram(QFile::encodeName(standIn.fileName()).toStdString());
    qputenv("STANDIN_DIR", QFile::encodeName(directory.path()));
    scratch = directory.path();
}

// What the stand-in recorded: "request" or "arguments".
inline QByteArray recorded(const char* name)
{
    QFile file(scratch + "/" + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

// Puts the test file back as kFile, not immutable, and forgets what was recorded.
inline bool resetHostsFile()
{
    setImmutable(scratch + "/hosts", false);
    QFile file(scratch + "/hosts");
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(kFile) != kFile.size())
        return false;
    QFile::remove(scratch + "/request");
    QFile::remove(scratch + "/arguments");
    return true;
}

} // namespace standin
