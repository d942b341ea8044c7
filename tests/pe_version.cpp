// Walks the nested blocks of a version resource: each is its length, its value's length, its type
// (1: text), a UTF-16 key, then its value and its children, each on a 4-byte boundary.
#include "tests/pe_version.h"

#include <cstring>

namespace {

struct Block {
    std::string key;
    const BYTE* value = nullptr;
    size_t valueBytes = 0;
    const BYTE* children = nullptr;
    const BYTE* end = nullptr;
};

const BYTE* Align(const BYTE* base, const BYTE* p) {
    return base + ((p - base + 3) & ~(ptrdiff_t)3);
}

// Reads UTF-16 text up to its terminator or the limit, keeping the low byte of each unit.
std::string Ascii(const BYTE* p, const BYTE* limit) {
    std::string text;
    for (; limit - p >= 2 && (p[0] || p[1]); p += 2)
        text += (char)p[0];
    return text;
}

// The block at p, within [base, limit); false when it does not fit.
bool ReadBlock(const BYTE* base, const BYTE* p, const BYTE* limit, Block& b) {
    WORD header[3]; // length, value length, type
    if (limit - p < (ptrdiff_t)sizeof header)
        return false;
    memcpy(header, p, sizeof header);
    if (header[0] < sizeof header || header[0] > limit - p)
        return false;
    b.end = p + header[0];
    b.key = Ascii(p + sizeof header, b.end);
    b.value = Align(base, p + sizeof header + 2 * (b.key.size() + 1));
    b.valueBytes = header[2] == 1 ? 2 * header[1] : header[1];
    b.children = Align(base, b.value + b.valueBytes);
    return b.value + b.valueBytes <= b.end;
}

} // namespace

bool VersionInfo::Parse(const std::vector<BYTE>& data, std::string& error) {
    const BYTE* base = data.data();
    const BYTE* limit = base + data.size();
    Block root;
    if (!ReadBlock(base, base, limit, root) || root.key != "VS_VERSION_INFO" ||
        root.valueBytes < sizeof fixed) {
        error = "no VS_VERSION_INFO block with its fixed numbers";
        return false;
    }
    memcpy(&fixed, root.value, sizeof fixed);
    if (fixed.dwSignature != 0xFEEF04BD) {
        error = "the fixed numbers lack their signature";
        return false;
    }
    // StringFileInfo holds string tables, one per language; each holds the strings.
    Block info, table, value;
    for (const BYTE* p = root.children; ReadBlock(base, p, root.end, info);
         p = Align(base, info.end))
        for (const BYTE* t = info.children;
             info.key == "StringFileInfo" && ReadBlock(base, t, info.end, table);
             t = Align(base, table.end))
            for (const BYTE* s = table.children; ReadBlock(base, s, table.end, value);
                 s = Align(base, value.end))
                values[value.key] = Ascii(value.value, value.value + value.valueBytes);
    return true;
}
