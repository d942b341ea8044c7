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
    std::vector<std::string> importNames; // every function imported by name, from any DLL
    bool hasTlsDirectory = false;
    int tlsCallbacks = 0; // entries of the TLS directory's callback array

    // Reads the file; false with the reason in error when it is no readable PE image.
    bool Load(const std::string& path, std::string& error);

  private:
    std::vector<BYTE> m_bytes;
    std::vector<IMAGE_SECTION_HEADER> m_sections;
    ULONGLONG m_imageBase = 0;

    const BYTE* At(DWORD rva, DWORD size) const;
    std::string String(DWORD rva) const;
    bool ReadExports(const IMAGE_DATA_DIRECTORY& dir, std::string& error);
    bool ReadImports(const IMAGE_DATA_DIRECTORY& dir, std::string& error);
    bool ReadImportNames(DWORD thunks, std::string& error);
    ULONGLONG Pointer(DWORD rva) const; // a pointer-sized field of the image's kind, 0 if outside
    bool ReadTls(const IMAGE_DATA_DIRECTORY& dir, std::string& error);
};
