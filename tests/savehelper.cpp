// Saves standard input over the file named on the command line and prints
// "saved" or the failure's reason. Tests run it as another user or inside a
// private mount namespace.
#include "filesave.h"

#include <iostream>
#include <iterator>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: savehelper FILE < new-content\n";
        return 2;
    }
    const std::string bytes{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    const platform::SaveOutcome outcome = platform::replaceFileContents(argv[1], bytes);
    std::cout << (outcome.saved ? "saved" : outcome.reason) << std::endl;
    return outcome.saved ? 0 : 1;
}
