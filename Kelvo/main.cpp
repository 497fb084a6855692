#include "MainRun.h"
#include "Platform.h"
#include "Secrets.h"

#include <cstdio>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

int main(int argc, char** argv) {
    // Passwords may sit in memory for the whole run: no core files, no
    // debugging by other users.
    (void)platform::DenyMemoryDumps();
    std::vector<std::string> args(argv, argv + argc);
    HideSecretArguments(argc, argv);
    // Large output (one line per object) goes out in big blocks.
    static char outBuffer[1 << 16];
    if (!isatty(STDOUT_FILENO)) std::setvbuf(stdout, outBuffer, _IOFBF, sizeof outBuffer);
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e)
        env.emplace_back(*e);
    int code = MainRun(std::move(args), env);
    std::fflush(stdout);
    return code;
}
