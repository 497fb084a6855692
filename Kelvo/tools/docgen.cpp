// Build-time generator of the manual page and the shell completions:
//
//   kelvo-docgen --man kelvo.1 --bash kelvo.bash --zsh _kelvo
//
// The page's date comes from SOURCE_DATE_EPOCH when it is set, so that a
// build from the same sources gives the same files; otherwise it is left out.

#include "DocGen.h"
#include "RunState.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <string_view>

namespace {

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::fprintf(stderr, "kelvo-docgen: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

std::string PageDate() {
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (epoch == nullptr || *epoch == '\0') return {};
    char* end = nullptr;
    const long long seconds = std::strtoll(epoch, &end, 10);
    if (*end != '\0' || seconds < 0) return {};
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (gmtime_r(&t, &tm) == nullptr) return {};
    char buf[16];
    std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm);
    return buf;
}

int Usage() {
    std::fprintf(stderr, "usage: kelvo-docgen [--man FILE] [--bash FILE] [--zsh FILE]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc % 2 == 0) return Usage();
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view what = argv[i];
        const std::string path = argv[i + 1];
        std::string text;
        if (what == "--man")
            text = docgen::ManPage(kVersionText, PageDate());
        else if (what == "--bash")
            text = docgen::BashCompletion();
        else if (what == "--zsh")
            text = docgen::ZshCompletion();
        else
            return Usage();
        if (!WriteText(path, text)) return 1;
    }
    return 0;
}
