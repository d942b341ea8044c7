// Reads a PE file's headers, export directory and import descriptors from its bytes on disk.
#include "tests/pe_file.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

// The data directories of either optional header kind, or null when the header is cut short.
// The data directories and the image base of either optional header kind, or null when the
// header is cut short.
const IMAGE_DATA_DIRECTORY* Directories(const BYTE* optional, size_t room, WORD magic,
                                        ULONGLONG& imageBase) {
    if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC && room >= sizeof(IMAGE_OPTIONAL_HEADER32)) {
        const auto* h = reinterpret_cast<const IMAGE_OPTIONAL_HEADER32*>(optional);
        imageBase = h->ImageBase;
        return h->DataDirectory;
    }
    if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC && room >= sizeof(IMAGE_OPTIONAL_HEADER64)) {
        const auto* h = reinterpret_cast<const IMAGE_OPTIONAL_HEADER64*>(optional);
        imageBase = h->ImageBase;
        return h->DataDirectory;
    }
    return nullptr;
}

} // namespace

const BYTE* PeFile::At(DWORD rva, DWORD size) const {
    for (const IMAGE_SECTION_HEADER& s : m_sections) {
        DWORD span = s.SizeOfRawData;
        if (rva < s.VirtualAddress || rva - s.VirtualAddress >= span)
            continue;
        DWORD offset = s.PointerToRawData + (rva - s.VirtualAddress);
        if (span - (rva - s.VirtualAddress) < size || offset + (size_t)size > m_bytes.size())
            return nullptr;
        return m_bytes.data() + offset;
    }
    return nullptr;
}

std::string PeFile::String(DWORD rva) const {
    std::string text;
    for (const BYTE* c = At(rva, 1); c && *c; c = At(++rva, 1))
        text += (char)*c;
    return text;
}

bool PeFile::ReadExports(const IMAGE_DATA_DIRECTORY& dir, std::string& error) {
    if (!dir.VirtualAddress)
        return true;
    const auto* exp = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
        At(dir.VirtualAddress, sizeof(IMAGE_EXPORT_DIRECTORY)));
    if (!exp) {
        error = "export directory outside the file";
        return false;
    }
    exportName = String(exp->Name);
    exportFunctions = exp->NumberOfFunctions;
    for (DWORD i = 0; i < exp->NumberOfNames; ++i) {
        const BYTE* entry = At(exp->AddressOfNames + i * sizeof(DWORD), sizeof(DWORD));
        if (!entry) {
            error = "export name table outside the file";
            return false;
        }
        DWORD rva;
        memcpy(&rva, entry, sizeof rva);
        exportNames.push_back(String(rva));
    }
    return true;
}

bool PeFile::ReadImports(const IMAGE_DATA_DIRECTORY& dir, std::string& error) {
    for (DWORD rva = dir.VirtualAddress; rva; rva += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
            At(rva, sizeof(IMAGE_IMPORT_DESCRIPTOR)));
        if (!d) {
            error = "import descriptors outside the file";
            return false;
        }
        if (!d->Name)
            break;
        importDlls.push_back(String(d->Name));
        if (!ReadImportNames(d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk, error))
            return false;
    }
    return true;
}

ULONGLONG PeFile::Pointer(DWORD rva) const {
    bool wide = magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    const BYTE* p = At(rva, wide ? 8 : 4);
    ULONGLONG value = 0;
    if (p)
        memcpy(&value, p, wide ? 8 : 4);
    return value;
}

bool PeFile::ReadImportNames(DWORD thunks, std::string& error) {
    const DWORD step = magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC ? 8 : 4;
    const ULONGLONG byOrdinal = step == 8 ? IMAGE_ORDINAL_FLAG64 : IMAGE_ORDINAL_FLAG32;
    for (DWORD rva = thunks;; rva += step) {
        if (!At(rva, step)) {
            error = "import name table outside the file";
            return false;
        }
        ULONGLONG entry = Pointer(rva);
        if (!entry)
            return true;
        if (!(entry & byOrdinal))
            importNames.push_back(String((DWORD)entry + sizeof(WORD))); // after the hint
    }
}

bool PeFile::ReadTls(const IMAGE_DATA_DIRECTORY& dir, std::string& error) {
    hasTlsDirectory = dir.VirtualAddress != 0;
    if (!hasTlsDirectory)
        return true;
    // The directory's fields are pointer-sized virtual addresses; the callbacks are the fourth.
    const DWORD step = magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC ? 8 : 4;
    ULONGLONG callbacks = Pointer(dir.VirtualAddress + 3 * step);
    if (!callbacks)
        return true;
    if (callbacks < m_imageBase) {
        error = "TLS callbacks outside the image";
        return false;
    }
    for (DWORD rva = (DWORD)(callbacks - m_imageBase); Pointer(rva); rva += step)
        ++tlsCallbacks;
    return true;
}

bool PeFile::Load(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    m_bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(m_bytes.data());
    if (m_bytes.size() < sizeof *dos || dos->e_magic != IMAGE_DOS_SIGNATURE ||
        (size_t)dos->e_lfanew + sizeof(IMAGE_NT_HEADERS32) > m_bytes.size()) {
        error = path + ": missing or not a PE file";
        return false;
    }
    const BYTE* nt = m_bytes.data() + dos->e_lfanew;
    const auto* file = reinterpret_cast<const IMAGE_FILE_HEADER*>(nt + sizeof(DWORD));
    const BYTE* optional = nt + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);
    size_t room = m_bytes.size() - (optional - m_bytes.data());
    machine = file->Machine;
    memcpy(&magic, optional, sizeof magic);
    const IMAGE_DATA_DIRECTORY* dirs = Directories(optional, room, magic, m_imageBase);
    const BYTE* sections = optional + file->SizeOfOptionalHeader;
    if (!dirs || file->SizeOfOptionalHeader > room ||
        (size_t)(m_bytes.data() + m_bytes.size() - sections) <
            file->NumberOfSections * sizeof(IMAGE_SECTION_HEADER)) {
        error = path + ": headers cut short";
        return false;
    }
    m_sections.resize(file->NumberOfSections);
    memcpy(m_sections.data(), sections, m_sections.size() * sizeof(IMAGE_SECTION_HEADER));
    return ReadExports(dirs[IMAGE_DIRECTORY_ENTRY_EXPORT], error) &&
           ReadImports(dirs[IMAGE_DIRECTORY_ENTRY_IMPORT], error) &&
           ReadTls(dirs[IMAGE_DIRECTORY_ENTRY_TLS], error);
}
