// LDIF as a search client prints it, read as targets.  Every item must come
// from the input: an entry's DN is what its dn: line says (decoded), and the
// dn: line written back for a rejects file must read back as the same DN.
//
// Input: one option byte, then the LDIF text.
//   bits 0-1 the longest dn: line accepted (64, 256, 4096 bytes or the
//   default)
#include "FuzzSupport.h"
#include "LdifInput.h"
#include "LineReader.h"

#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Silence();
    const fuzz::Options o(fuzz::Text(data, size));
    static constexpr std::size_t kLimits[] = {64, 256, 4096, kLineBufferSize};
    fuzz::MemoryFile file(o.rest);
    if (!file.Get()) return 0;
    LineReader lines(file.Get());
    LdifReader reader(lines, kLimits[o.bits & 3]);
    LdifItem item;
    std::size_t items = 0;
    while (reader.Next(item)) {
        fuzz::Check(++items <= o.rest.size() + 1, "more items than input bytes");
        if (item.kind != LdifItem::Kind::Entry) continue;
        fuzz::Check(!item.dn.empty(), "an entry with an empty DN");
        // The dn: line Kelvo writes back reads as the same DN.
        const std::string again = LdifDnLine(item.dn) + "\n";
        fuzz::MemoryFile back(again);
        LineReader backLines(back.Get());
        LdifReader backReader(backLines);
        LdifItem read;
        fuzz::Check(backReader.Next(read) && read.kind == LdifItem::Kind::Entry &&
                        read.dn == item.dn,
                    "a written-back dn: line reads as another DN");
    }
    return 0;
}
