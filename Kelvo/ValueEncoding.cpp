#include "ValueEncoding.h"

#include "ConsoleOutput.h"
#include "DSTime.h"
#include "Diag.h"
#include "Platform.h"
#include "RunState.h"
#include "SIDS.h"
#include "Secrets.h"
#include "pellixstrings.h"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace {

enum class Kind {
    Sid,
    Guid,
    Bin,
    Base64,
    Hex,
    Txt,
    ImportFile,
    Sd,
    Utc,
    Local,
    Current,
    UtcGt,
    LocalGt,
    CurrentGt,
    Delta
};

struct Prefix {
    std::string_view word;
    Kind kind;
    std::string_view label;
};

// Tested in this order; the first prefix found anywhere in the name wins.
constexpr Prefix kPrefixes[] = {
    {"sid##", Kind::Sid, "SID"},
    {"guid##", Kind::Guid, "GUID"},
    {"bin##", Kind::Bin, "BIN"},
    {"base64##", Kind::Base64, "BASE64"},
    {"hex##", Kind::Hex, "HEX"},
    {"txt##", Kind::Txt, "TXT"},
    {"importfile##", Kind::ImportFile, "Import File"},
    {"sd##", Kind::Sd, "SD"},
    {"utc##", Kind::Utc, "UTC Time"},
    {"local##", Kind::Local, "Local Time"},
    {"current##", Kind::Current, "Current Time"},
    {"utcgt##", Kind::UtcGt, "UTC Time (GT)"},
    {"localgt##", Kind::LocalGt, "Local Time (GT)"},
    {"currentgt##", Kind::CurrentGt, "Current Time (GT)"},
    {"delta##", Kind::Delta, "Delta Time"},
};

Bytes TextBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

int Win32Report(const std::string& message, std::uint32_t code) {
    diag::Out(message + "(" + std::to_string(code) + ") " + platform::SystemErrorText(code) + "\n");
    return static_cast<int>(code);
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// `shown` is the value as messages may show it.
int EncodeHex(const std::string& value, const std::string& shown, Bytes& out) {
    std::string clean = StrToLower(value);
    std::erase(clean, ' ');
    if (clean.size() % 2 != 0) {
        diag::Out("ERROR: Odd number of HEX characters. (" + std::to_string(clean.size()) + ") [" +
                  shown + "]\n");
        return -1;
    }
    out.clear();
    for (std::size_t i = 0; i < clean.size(); i += 2) {
        int hi = HexValue(clean[i]);
        int lo = HexValue(clean[i + 1]);
        if (hi < 0 || lo < 0) {
            char bad = hi < 0 ? clean[i] : clean[i + 1];
            diag::Out(std::string("ERROR: Error in HEX conversion - (") + bad + ") [" + shown +
                      "]\n");
            return -1;
        }
        out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return 0;
}

Bytes EncodeTxt(const std::string& value) {
    Bytes out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c != '\\') {
            out.push_back(static_cast<std::uint8_t>(c));
            continue;
        }
        if (++i >= value.size()) break; // a lone trailing backslash produces nothing
        char e = value[i];
        int h = HexValue(e);
        if (h >= 0) {
            int l = i + 1 < value.size() ? HexValue(value[i + 1]) : -1;
            if (l >= 0) {
                out.push_back(static_cast<std::uint8_t>(h * 16 + l));
                ++i;
            } else {
                out.push_back(static_cast<std::uint8_t>(h * 16));
            }
            continue;
        }
        switch (e) {
        case 'n':
            out.push_back(0x0A);
            break;
        case 'r':
            out.push_back(0x0D);
            break;
        case 't':
            out.push_back(0x09);
            break;
        case 'v':
            out.push_back(0x0B);
            break;
        default:
            out.push_back(static_cast<std::uint8_t>(e));
            break;
        }
    }
    return out;
}

int EncodeGuid(std::string value, Bytes& out) {
    std::erase(value, '{');
    std::erase(value, '}');
    diag::DebugOut("DEBUG: GUID String=" + value + "\n");
    LogLine("GUID String=" + value);
    // 8-4-4-4-12 hex digits.
    static constexpr std::size_t kDash[] = {8, 13, 18, 23};
    bool ok = value.size() == 36;
    for (std::size_t i = 0; ok && i < value.size(); ++i) {
        bool dash = i == kDash[0] || i == kDash[1] || i == kDash[2] || i == kDash[3];
        ok = dash ? value[i] == '-' : HexValue(value[i]) >= 0;
    }
    if (!ok) return Win32Report("ERROR (UuidFromString): " + value + "] ", 1705);
    std::string hex;
    for (char c : value)
        if (c != '-') hex.push_back(c);
    Bytes b;
    for (std::size_t i = 0; i < 32; i += 2)
        b.push_back(static_cast<std::uint8_t>(HexValue(hex[i]) * 16 + HexValue(hex[i + 1])));
    // Data1, Data2 and Data3 are stored little-endian, Data4 as written.
    out = {b[3], b[2], b[1],  b[0],  b[5],  b[4],  b[7],  b[6],
           b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]};
    return 0;
}

int EncodeFile(const std::string& path, Bytes& out) {
    if (std::uint32_t err = platform::FileAttributesError(path); err != 0) {
        Win32Report("ERR: Couldn't open import file [" + path + "]:", err);
        diag::Out(kDidNotComplete);
        return static_cast<int>(err);
    }
    diag::DebugOut("DEBUG: Opening Import file:" + path + "\n");
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        diag::Out("ERR: Couldn't open Import file - " + path);
        diag::Out(kDidNotComplete);
        return -1;
    }
    out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    diag::DebugOut("DEBUG: File Length: " + std::to_string(out.size()) + "\n");
    return 0;
}

int EncodeAbsoluteTime(Kind kind, const std::string& attribute, const std::string& value,
                       Bytes& out) {
    const bool utc = kind == Kind::Utc || kind == Kind::UtcGt;
    const bool gt = kind == Kind::UtcGt || kind == Kind::LocalGt;
    const std::string label = kind == Kind::Utc     ? "UTCTIME"
                              : kind == Kind::UtcGt ? "UTCTIME (GT)"
                              : kind == Kind::Local ? "LOCALTIME"
                                                    : "LOCALTIME (GT)";
    diag::DebugOut("DEBUG: " + label + " attribute String=" + attribute + "\n");
    diag::DebugOut("DEBUG: " + label + " val       String=" + value + "\n");
    std::string result = gt ? EncTime_to_GT(value, utc) : EncTime_to_int8(value, utc);
    if (result.empty()) {
        diag::Out("ERROR: Time conversion failed for (" + value + "), exiting...\n");
        return -1;
    }
    diag::DebugOut(std::string(utc ? "DEBUG: LDAP UTC String=" : "DEBUG: LDAP LOCAL String=") +
                   result + "\n");
    out = TextBytes(result);
    return 0;
}

// The text of a relative time: the delta itself for "delta##", else now moved
// by the delta as int8 or generalized time.  The whole delta is summed first
// with every step checked, so a value is either exact or refused, never
// wrapped, sign-flipped or empty.
TimeError RelativeTimeText(Kind kind, const std::string& value, std::string& result) {
    std::int64_t units = 0;
    if (TimeError e = RelativeDelta(value, units); e != TimeError::None) return e;
    if (kind == Kind::Delta) {
        result = std::to_string(units);
        return TimeError::None;
    }
    DSTIME t(TimeMode::Utc);
    std::uint64_t when = 0;
    if (TimeError e = OffsetInstant(t.Instant(), units, when); e != TimeError::None) return e;
    (void)t.Process(TimeMode::Utc, when);
    if (kind == Kind::Current) {
        result = t.Int8Text();
        return TimeError::None;
    }
    result = t.GetGT(".0Z");
    return result.empty() ? TimeError::YearOutOfRange : TimeError::None;
}

int EncodeRelativeTime(Kind kind, const std::string& value, Bytes& out) {
    std::string result;
    if (TimeError e = RelativeTimeText(kind, value, result); e != TimeError::None) {
        diag::Out("ERROR: Time value out of range (" + value +
                  "): " + std::string(TimeErrorText(e)) + "\n");
        diag::Out("ERROR: Time conversion failed for (" + value + "), exiting...\n");
        return -1;
    }
    diag::DebugOut(std::string(kind == Kind::CurrentGt ? "DEBUG: LDAP CURRENTGT String="
                                                       : "DEBUG: LDAP CURRENT String=") +
                   result + "\n");
    out = TextBytes(result);
    return 0;
}

} // namespace

namespace {

int Encode(std::string& attribute, const std::string& value, const std::string& caller, Bytes& out,
           bool& endsRun, const DescriptorEncoder& descriptor) {
    out.clear();
    // Password attributes (unicodePwd as hex##, userPassword as txt##) keep
    // their values out of messages.
    const std::string shown = RedactAttributeValue(attribute, value);
    diag::DebugOut("DEBUG: " + caller + "\n");
    diag::DebugOut("DEBUG: Encoding Binary: " + attribute + ":" + shown + "\n");
    LogLine("Encoding Binary: " + attribute + ":" + shown);
    const Prefix* found = nullptr;
    std::size_t at = std::string::npos;
    for (const auto& p : kPrefixes) {
        at = attribute.find(p.word);
        if (at != std::string::npos) {
            found = &p;
            break;
        }
    }
    if (!found) {
        std::size_t hash = attribute.find("##");
        diag::Out("\n\nERROR: Invalid binary encode type - " + attribute.substr(0, hash) + "\n\n");
        endsRun = true;
        return -1;
    }
    const std::string original = attribute;
    attribute.erase(at, found->word.size());
    diag::DebugOut("DEBUG: Encoding " + std::string(found->label) + ": " + shown + "\n");
    LogLine("Encoding " + std::string(found->label) + ": " + shown);

    int rc = 0;
    switch (found->kind) {
    case Kind::Sid: {
        diag::DebugOut("DEBUG: SID String=" + shown + "\n");
        LogLine("SID String=" + shown);
        if (!StringSidToBin(value, out))
            return Win32Report("ERROR (ConvertStringSidToSid): [" + shown + "] ", 1337);
        break;
    }
    case Kind::Guid:
        rc = EncodeGuid(value, out);
        break;
    case Kind::Bin:
    case Kind::Base64:
    case Kind::Hex:
        rc = EncodeHex(value, shown, out);
        break;
    case Kind::Txt:
        out = EncodeTxt(value);
        break;
    case Kind::ImportFile:
        rc = EncodeFile(value, out);
        break;
    case Kind::Sd:
        diag::DebugOut("DEBUG: SD attribute String=" + original + "\n");
        diag::DebugOut("DEBUG: SD val       String=" + value + "\n");
        if (!descriptor) {
            diag::Out("ERROR: Security descriptor values cannot be built here.\n");
            diag::Out(kDidNotComplete);
            endsRun = true;
            return -1;
        }
        {
            const EncodeStatus st = descriptor(attribute, value, out);
            if (st.endsRun) {
                diag::Out(kDidNotComplete);
                endsRun = true;
            }
            rc = st.code;
        }
        break;
    case Kind::Utc:
    case Kind::Local:
    case Kind::UtcGt:
    case Kind::LocalGt:
        rc = EncodeAbsoluteTime(found->kind, original, value, out);
        break;
    case Kind::Current:
    case Kind::CurrentGt:
    case Kind::Delta:
        rc = EncodeRelativeTime(found->kind, value, out);
        break;
    }
    if (rc == 0) diag::DebugOut("DEBUG: Data Size - " + std::to_string(out.size()) + "\n");
    return rc;
}

} // namespace

EncodeStatus EncodeBinaryAttribs(std::string& attribute, const std::string& value,
                                 const std::string& caller, Bytes& out,
                                 const DescriptorEncoder& descriptor) {
    KELVO_TRACE_SCOPE();
    EncodeStatus status;
    status.code = Encode(attribute, value, caller, out, status.endsRun, descriptor);
    return status;
}
