// SPDX-License-Identifier: GPL-3.0-or-later
// tessaly-save-helper: writes the system's hosts file for the editor, which
// runs as the user, with the rights that pkexec gave it.
//
// It is the only code of Tessaly that runs as root, so it does as little as
// possible: it takes no arguments and reads no environment beyond what pkexec
// sets; the one file it writes is compiled in, and it writes it only through
// folders and links that only root can change. It reads the whole request
// (see saverequest.h) before it touches anything, checks that the file is
// still what the editor saw, and saves through the same safe save as the
// editor.
#include "fileread.h"
#include "filesave.h"
#include "hostslocation.h"
#include "saverequest.h"
#include "trustedpath_posix.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int answer(const std::string& line, int exitCode)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    return exitCode;
}

int refuse(const std::string& reason)
{
    return answer(std::string(savehelper::kErrorPrefix) + reason, 2);
}

long long readStandardInput(char* buffer, std::size_t size)
{
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, buffer, size);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

} // namespace

int main(int argc, char**)
{
    if (argc != 1)
        return refuse("This helper takes no arguments.");
    if (::geteuid() != 0)
        return refuse("This helper must run as root.");
    // pkexec sets it to the user who asked; whoever can set it by hand is root already.
    if (!std::getenv("PKEXEC_UID"))
        return refuse("This helper must be started through pkexec.");
    ::umask(022);

    savehelper::Request request;
    if (const std::string problem = savehelper::readRequest(readStandardInput, request); !problem.empty())
        return refuse(problem);

    const std::string path = fileaccess::systemHostsFilePath();
    if (const std::string why = savehelper::whyNotTrusted(path); !why.empty())
        return refuse(why);
    std::string unreadable;
    const fileaccess::FileSnapshot now = fileaccess::snapshotFile(path, &unreadable);
    if (now.state == fileaccess::FileSnapshot::State::Unreadable)
        return refuse("The hosts file " + path + " cannot be read (" + unreadable + "), so it was left as it is.");
    if (!(now == request.expected))
        return refuse("The hosts file " + path + " was changed by another program after Tessaly read it.");
    const fileaccess::SaveOutcome outcome = fileaccess::replaceFileContents(path, request.content);
    return answer(savehelper::answerLine(outcome), outcome.saved ? (outcome.confirmedOnDisk ? 0 : 3) : 1);
}
