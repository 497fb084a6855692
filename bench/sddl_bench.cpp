// SDDL round-trip speed of our security library: reads SDDL lines from
// standard input, then converts every line text -> self-relative bytes ->
// text, `iterations` times over the whole set.
//
//   sddl_bench DOMAIN_SID [iterations] < corpus
//
// Prints "descriptors <n> iterations <k> ns_per_descriptor <t>" on standard
// output.  Fails (exit 1) when a line does not convert both ways or the
// printed text does not read back to the same bytes, so a fast result always
// means the work was done.
#include "Sddl.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

using namespace platform::security;

int main(int argc, char** argv) {
    SddlDomain domain;
    if (argc < 2 || argc > 3 || !MakeSddlDomain(argv[1], "", domain).ok()) {
        std::cerr << "usage: sddl_bench DOMAIN_SID [iterations] < corpus\n";
        return 2;
    }
    const long iterations = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 20;
    if (iterations < 1) {
        std::cerr << "sddl_bench: iterations must be at least 1\n";
        return 2;
    }
    std::vector<std::string> lines;
    for (std::string line; std::getline(std::cin, line);)
        if (!line.empty()) lines.push_back(std::move(line));
    if (lines.empty()) {
        std::cerr << "sddl_bench: no SDDL lines on standard input\n";
        return 1;
    }

    // Checked once, outside the timing: each line converts both ways and the
    // printed text reads back to the same bytes.
    std::vector<std::uint8_t> bytes, again;
    std::string text;
    for (const std::string& line : lines) {
        if (!ConvertStringSecurityDescriptorToSecurityDescriptor(line, kSddlRevision1, domain,
                                                                 bytes)
                 .ok() ||
            !ConvertSecurityDescriptorToStringSecurityDescriptor(
                 bytes, kSddlRevision1, kAllSecurityInformation, domain, text)
                 .ok() ||
            !ConvertStringSecurityDescriptorToSecurityDescriptor(text, kSddlRevision1, domain,
                                                                 again)
                 .ok() ||
            again != bytes) {
            std::cerr << "sddl_bench: does not round-trip: " << line << '\n';
            return 1;
        }
    }

    std::size_t done = 0, printed = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < iterations; ++i)
        for (const std::string& line : lines) {
            if (!ConvertStringSecurityDescriptorToSecurityDescriptor(line, kSddlRevision1, domain,
                                                                     bytes)
                     .ok() ||
                !ConvertSecurityDescriptorToStringSecurityDescriptor(
                     bytes, kSddlRevision1, kAllSecurityInformation, domain, text)
                     .ok())
                return 1;
            printed += text.size();
            ++done;
        }
    const auto elapsed =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    if (done != lines.size() * static_cast<std::size_t>(iterations) || printed == 0) return 1;
    std::printf("descriptors %zu iterations %ld ns_per_descriptor %.1f\n", lines.size(), iterations,
                elapsed / static_cast<double>(done));
    return 0;
}
