// Reads what the player and the loader see of a DLL file on disk, PE32 or PE32+ alike, without
// loading it: so an x86_64 test can judge the shipped i686 plug-in on a machine that cannot run it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct PeFile {
    WORD machine = 0;          // IMAGE_FILE_MACHINE_I386 or IMAGE_FILE_MACHINE_AMD64
    WORD magic = 0;            // IMAGE_NT_OPTIONAL_HDR32_MAGIC (PE32) or ..._HDR64_MAGIC (PE32+)
    std::string exportName;    // the export directory's Name
    DWORD exportFunctions = 0; // NumberOfFunctions
    std::vector<std::string> exportNames; // the named exports
    std::vector<std::string> importDlls;  // one per import descriptor, as written
    DWORD tlsDirectorySize = 0;           // 0: no TLS directory (no TLS callbacks)

    // Reads the file; false with the reason in error when it is no readable PE image.
    bool Load(const std::string& path, std::string& error);

  private:
    std::vector<BYTE> m_bytes;
    std::vector<IMAGE_SECTION_HEADER> m_sections;

    const BYTE* At(DWORD rva, DWORD size) const;
    std::string String(DWORD rva) const;
    bool ReadExports(const IMAGE_DATA_DIRECTORY& dir, std::string& error);
    bool ReadImports(const IMAGE_DATA_DIRECTORY& dir, std::string& error);
};
