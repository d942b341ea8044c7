// WAV files of the consumed bytes: RIFF header with the connected format, data appended as it
// is consumed, sizes written when the stream ends.
#include "testbed/capture.h"

namespace simks {

namespace {

void Put(HANDLE f, const void* data, DWORD size) {
    DWORD done = 0;
    WriteFile(f, data, size, &done, NULL);
}

void Put32(HANDLE f, DWORD v) {
    Put(f, &v, sizeof v);
}

DWORD FmtSize(const WAVEFORMATEX& wfx) {
    return wfx.wFormatTag == WAVE_FORMAT_PCM ? 16 : 18 + wfx.cbSize;
}

} // namespace

void WavOpen(Stream& s, int number, const std::string& pattern) {
    std::string path = pattern;
    size_t at = path.find("%d");
    if (at != std::string::npos)
        path.replace(at, 2, std::to_string(number));
    s.wavFile = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, NULL);
    if (s.wavFile == INVALID_HANDLE_VALUE)
        return;
    const WAVEFORMATEX& wfx = s.info.Format.Format;
    DWORD fmt = FmtSize(wfx);
    Put(s.wavFile, "RIFF", 4);
    Put32(s.wavFile, 0);
    Put(s.wavFile, "WAVEfmt ", 8);
    Put32(s.wavFile, fmt);
    Put(s.wavFile, &s.info.Format, fmt);
    Put(s.wavFile, "data", 4);
    Put32(s.wavFile, 0);
}

void WavAppend(Stream& s, const void* data, ULONG size) {
    if (s.wavFile == INVALID_HANDLE_VALUE)
        return;
    Put(s.wavFile, data, size);
    s.wavDataBytes += size;
}

void WavClose(Stream& s) {
    if (s.wavFile == INVALID_HANDLE_VALUE)
        return;
    DWORD fmt = FmtSize(s.info.Format.Format);
    DWORD dataAt = 20 + fmt + 4;
    if (s.wavDataBytes & 1)
        Put(s.wavFile, "", 1);
    SetFilePointer(s.wavFile, 4, NULL, FILE_BEGIN);
    Put32(s.wavFile, dataAt + 4 + s.wavDataBytes + (s.wavDataBytes & 1) - 8);
    SetFilePointer(s.wavFile, dataAt, NULL, FILE_BEGIN);
    Put32(s.wavFile, s.wavDataBytes);
    CloseHandle(s.wavFile);
    s.wavFile = INVALID_HANDLE_VALUE;
}

} // namespace simks
