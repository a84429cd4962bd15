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

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>
#include <sys/resource.h>
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

// pkexec keeps the caller's resource limits and, started from a terminal,
// its process group: a file size limit would kill the helper half way
// through rewriting the file in place (SIGXFSZ), and Ctrl+C in the editor's
// terminal would reach it too. It leaves them behind before anything else;
// the signals stay blocked until it has answered.
void leaveTheCallersLimitsAndSignals()
{
    sigset_t stopping;
    sigemptyset(&stopping);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP})
        sigaddset(&stopping, signal);
    ::sigprocmask(SIG_BLOCK, &stopping, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    // Fails only for a process that already leads its group: it goes on.
    ::setsid();
    // Without CAP_SYS_RESOURCE (a container's root) only up to the hard limit.
    const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
    for (const int resource : {RLIMIT_FSIZE, RLIMIT_CPU, RLIMIT_AS, RLIMIT_DATA, RLIMIT_STACK}) {
        rlimit now{};
        if (::setrlimit(resource, &unlimited) != 0 && ::getrlimit(resource, &now) == 0) {
            now.rlim_cur = now.rlim_max;
            ::setrlimit(resource, &now);
        }
    }
    // Not unlimited on Linux; a few files are all a save opens.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < 64) {
        files.rlim_cur = 64;
        files.rlim_max = std::max<rlim_t>(files.rlim_max, 64);
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
}

int save(int argc)
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

} // namespace

int main(int argc, char**)
{
    leaveTheCallersLimitsAndSignals();
    // An answer of its own for whatever goes wrong, rather than an abort
    // that the editor could only call an ending without an answer.
    try {
        return save(argc);
    } catch (const std::bad_alloc&) {
        return refuse("The save helper ran out of memory.");
    } catch (const std::exception& error) {
        return refuse(std::string("The save helper stopped on an unexpected error: ") + error.what());
    } catch (...) {
        return refuse("The save helper stopped on an unexpected error.");
    }
}
