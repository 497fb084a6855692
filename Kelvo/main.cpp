#include "MainRun.h"

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

extern char** environ;

int main(int argc, char** argv) {
    // Large output (one line per object) goes out in big blocks.
    static char outBuffer[1 << 16];
    if (!isatty(STDOUT_FILENO)) std::setvbuf(stdout, outBuffer, _IOFBF, sizeof outBuffer);
    std::vector<std::string> args(argv, argv + argc);
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e)
        env.emplace_back(*e);
    int code = MainRun(args, env);
    std::fflush(stdout);
    return code;
}
