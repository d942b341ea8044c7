// The file of the level record, beside the player's executable.
#include "engine/levelrecord.h"

#include "diag/log.h"
#include "diag/owned.h"

namespace {

bool RecordPath(char* path, size_t size) {
    char exePath[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(NULL, exePath, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH)
        return false;
    exePath[n] = '\0';
    return BuildSiblingPath(exePath, "\\quellor volume.dat", path, size);
}

UniqueHandle OpenRecord(DWORD access, DWORD disposition) {
    char path[MAX_PATH + 1];
    if (!RecordPath(path, sizeof path))
        return UniqueHandle();
    return UniqueHandle(
        CreateFileA(path, access, 0, NULL, disposition, FILE_ATTRIBUTE_NORMAL, NULL));
}

} // namespace

bool WriteLevelRecord(const KSLevelRecord& record) {
    UniqueHandle file = OpenRecord(GENERIC_WRITE, CREATE_ALWAYS);
    DWORD written = 0;
    return file.Valid() && WriteFile(file.Get(), &record, sizeof record, &written, NULL) &&
           written == sizeof record;
}

bool ReadLevelRecord(KSLevelRecord* record) {
    UniqueHandle file = OpenRecord(GENERIC_READ, OPEN_EXISTING);
    DWORD read = 0;
    if (!file.Valid() || !ReadFile(file.Get(), record, sizeof *record, &read, NULL))
        return false;
    KsLevelControl& c = record->control;
    c.szFilter[sizeof c.szFilter - 1] = '\0';
    return read == sizeof *record && record->dwTag == kLevelRecordTag &&
           record->cbSize == sizeof *record && c.nChannels <= kMaxLevelChannels &&
           c.nMuteChannels <= kMaxLevelChannels;
}

bool DeleteLevelRecord() {
    char path[MAX_PATH + 1];
    return RecordPath(path, sizeof path) && DeleteFileA(path);
}
