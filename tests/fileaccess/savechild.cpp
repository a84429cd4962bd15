// SPDX-License-Identifier: GPL-3.0-or-later
// Saves standard input over the file named on the command line and prints
// "saved" or the failure's reason. Tests run it as another user or inside a
// private mount namespace. With a step name it kills itself with SIGKILL when
// the save reaches that step, as a crash or a power cut there would.
#include "filesave.h"

#include <csignal>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>

namespace {

fileaccess::SaveStep dieAt;

void dieHere(fileaccess::SaveStep step)
{
    if (step == dieAt)
        std::raise(SIGKILL);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::cerr << "usage: savechild FILE [written|named|renamed|in-place-read|in-place-written] < new-content\n";
        return 2;
    }
    if (argc == 3) {
        const char* names[] = {"written", "named", "renamed", "in-place-read", "in-place-written"};
        int step = 0;
        while (step < 5 && std::strcmp(argv[2], names[step]) != 0)
            ++step;
        if (step == 5) {
            std::cerr << "savechild: no step " << argv[2] << '\n';
            return 2;
        }
        dieAt = static_cast<fileaccess::SaveStep>(step);
        fileaccess::testing::setSaveStepHook(dieHere);
    }
    const std::string bytes{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    const fileaccess::SaveOutcome outcome = fileaccess::replaceFileContents(argv[1], bytes);
    std::cout << (outcome.saved ? "saved" : outcome.reason) << std::endl;
    return outcome.saved ? 0 : 1;
}
