#include "stack/stack_report.h"

#include <cstdio>

std::string EscapeToUtf8(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    for (std::size_t i = 0; i < size;) {
        const unsigned char lead = bytes[i];
        // The length of a well-formed sequence starting here, or 0 (RFC 3629: no overlong
        // forms, no surrogates, nothing above U+10FFFF).
        std::size_t length = 0;
        if (lead < 0x80) {
            length = 1;
        } else if (lead >= 0xC2 && lead <= 0xF4) {
            const std::size_t want = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
            const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
            const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
            if (i + want <= size && bytes[i + 1] >= low && bytes[i + 1] <= high) {
                length = want;
                for (std::size_t k = 2; k < want; ++k)
                    if ((bytes[i + k] & 0xC0) != 0x80)
                        length = 0;
            }
        }
        if (length == 0) {
            out += "\\x";
            out += kHex[lead >> 4];
            out += kHex[lead & 15];
            ++i;
        } else if (lead == '\\') {
            out += "\\\\";
            ++i;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}

std::string StackReportCsv(const std::vector<CStackFile>& files) {
    const auto field = [](const std::string& raw) {
        std::string text = EscapeToUtf8(raw);
        if (text.find_first_of(",\"\n\r") == std::string::npos)
            return text;
        std::string quoted = "\"";
        for (char c : text) {
            if (c == '"')
                quoted += '"';
            quoted += c;
        }
        return quoted + "\"";
    };
    std::string csv = "file,dx,dy,status,reason\n";
    for (const CStackFile& file : files) {
        char shift[64];
        std::snprintf(shift, sizeof shift, "%.3f,%.3f", file.m_dx, file.m_dy);
        csv += field(file.m_strPath) + "," + shift + "," + (file.m_bUsed ? "used" : "rejected") +
               "," + field(file.m_bReference ? "reference" : file.m_strReason) + "\n";
    }
    return csv;
}
