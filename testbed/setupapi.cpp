// The simulated SetupAPI device-interface walk, the "FriendlyName" registry value and the
// packet-size constraints a WaveRT device publishes on its audio interface.
#include "testbed/hooks.h"
#include "testbed/state.h"

#include <devguid.h>

#include <cstring>

// Declared here: MinGW-w64's setupapi.h lacks it; setupapi.dll has it since Windows Vista.
extern "C" WINSETUPAPI BOOL WINAPI SetupDiGetDeviceInterfacePropertyW(
    HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data, const DEVPROPKEY* key, DEVPROPTYPE* type,
    PBYTE buffer, DWORD size, PDWORD required, DWORD flags);

namespace simks {

namespace {

// DEVPKEY_KsAudio_PacketSize_Constraints2, as the platform's documentation gives it.
const DEVPROPKEY kConstraints2 = {
    {0x9404F781, 0x7191, 0x409B, {0x8B, 0x0B, 0x80, 0xBF, 0x6E, 0xC2, 0x29, 0xAE}}, 2};

// KSAUDIO_PACKETSIZE_CONSTRAINTS2 with one processing-mode constraint (the default mode, its
// GUID AUDIO_SIGNALPROCESSINGMODE_DEFAULT), as the CONSTRAINTS variant publishes it: packets of
// at least 10 ms on 1024-byte boundaries, no largest size.
struct Constraints2 {
    ULONG MinPacketPeriodInHns;
    ULONG PacketSizeFileAlignment;
    ULONG MaxPacketSizeInBytes;
    ULONG NumProcessingModeConstraints;
    GUID ProcessingMode;
    ULONG SamplesPerProcessingPacket;
    ULONG ProcessingPacketDurationInHns;
};
static_assert(sizeof(Constraints2) == 40, "16 bytes and one 24-byte mode constraint");
const Constraints2 kPublished = {
    100000,
    0x3FF,
    0,
    1,
    {0xC18E2F7E, 0x933D, 0x4965, {0xB7, 0xD1, 0x1E, 0xEF, 0x22, 0x8D, 0x2A, 0xF3}},
    0,
    100000};

const Category* FindCategory(const Device& d, const GUID& cls) {
    for (const Category& c : d.categories)
        if (IsEqualGUID(c.guid, cls))
            return &c;
    return nullptr;
}

DevInfoSet* FindSet(HDEVINFO set) {
    Handle* h = FindHandle(set);
    return h && h->kind == Kind::DevInfo ? &Bed().sets[h->index] : nullptr;
}

// The device an interface record of the set names, or -1.
int DeviceOf(DevInfoSet& set, const SP_DEVICE_INTERFACE_DATA* data) {
    if (!data || data->cbSize != sizeof *data)
        return -1;
    int device = (int)data->Reserved - 1;
    for (int d : set.devices)
        if (d == device)
            return device;
    return -1;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

void FillInterface(SP_DEVICE_INTERFACE_DATA* data, const GUID& cls, DWORD flags, int device) {
    data->InterfaceClassGuid = cls;
    data->Flags = flags;
    data->Reserved = (ULONG_PTR)(device + 1);
}

// The value bytes of "FriendlyName", as the registry holds them.
std::string NameValue(const Device& d) {
    std::string v = d.friendlyName;
    if (!(d.regQuirks & SIMKS_REG_UNTERMINATED))
        v.push_back('\0');
    return v;
}

} // namespace

HDEVINFO WINAPI HookSetupDiGetClassDevsA(const GUID* cls, PCSTR enumerator, HWND parent,
                                         DWORD flags) {
    if (!cls || !(flags & DIGCF_DEVICEINTERFACE) || (flags & DIGCF_ALLCLASSES))
        return SetupDiGetClassDevsA(cls, enumerator, parent, flags);
    Lock lock;
    Count(SIMKS_REQ_CLASS_DEVS);
    DevInfoSet set{*cls, {}};
    for (size_t i = 0; i < Bed().devices.size(); ++i) {
        const Device& d = Bed().devices[i];
        if (FindCategory(d, *cls) && !(d.removed && (flags & DIGCF_PRESENT)))
            set.devices.push_back((int)i);
    }
    Bed().sets.push_back(set);
    HANDLE h = NewHandle(Kind::DevInfo, (int)Bed().sets.size() - 1);
    if (!h) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

BOOL WINAPI HookSetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA info, const GUID* cls,
                                            DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
    Lock lock;
    DevInfoSet* s = FindSet(set);
    if (!s)
        return SetupDiEnumDeviceInterfaces(set, info, cls, index, data);
    if (!cls || !data || data->cbSize != sizeof *data)
        return Fail(ERROR_INVALID_USER_BUFFER);
    if (!IsEqualGUID(*cls, s->cls) || index >= s->devices.size())
        return Fail(ERROR_NO_MORE_ITEMS);
    int device = s->devices[index];
    FillInterface(data, s->cls, FindCategory(*FindDevice(device), s->cls)->flags, device);
    return TRUE;
}

BOOL WINAPI HookSetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                 PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                                 DWORD size, PDWORD required,
                                                 PSP_DEVINFO_DATA info) {
    Lock lock;
    DevInfoSet* s = FindSet(set);
    if (!s)
        return SetupDiGetDeviceInterfaceDetailA(set, data, detail, size, required, info);
    int device = DeviceOf(*s, data);
    if (device < 0)
        return Fail(ERROR_INVALID_PARAMETER);
    const std::string& path = FindDevice(device)->path;
    DWORD needed =
        (DWORD)(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
    if (required)
        *required = needed;
    if (detail && detail->cbSize != sizeof *detail)
        return Fail(ERROR_INVALID_USER_BUFFER);
    if (info && info->cbSize != sizeof *info)
        return Fail(ERROR_INVALID_USER_BUFFER);
    if (!detail || size < needed)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
    if (info) {
        info->ClassGuid = GUID_DEVCLASS_MEDIA;
        info->DevInst = (DWORD)device + 1;
        info->Reserved = (ULONG_PTR)device + 1;
    }
    return TRUE;
}

BOOL WINAPI HookSetupDiGetDeviceInterfaceAlias(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                               const GUID* alias,
                                               PSP_DEVICE_INTERFACE_DATA aliasData) {
    Lock lock;
    DevInfoSet* s = FindSet(set);
    if (!s)
        return SetupDiGetDeviceInterfaceAlias(set, data, alias, aliasData);
    int device = DeviceOf(*s, data);
    if (device < 0 || !alias)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!aliasData || aliasData->cbSize != sizeof *aliasData)
        return Fail(ERROR_INVALID_USER_BUFFER);
    const Category* c = FindCategory(*FindDevice(device), *alias);
    if (!c)
        return Fail(ERROR_NO_SUCH_DEVICE_INTERFACE);
    FillInterface(aliasData, c->guid, c->flags, device);
    return TRUE;
}

HKEY WINAPI HookSetupDiOpenDeviceInterfaceRegKey(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                 DWORD reserved, REGSAM access) {
    Lock lock;
    DevInfoSet* s = FindSet(set);
    if (!s)
        return SetupDiOpenDeviceInterfaceRegKey(set, data, reserved, access);
    int device = DeviceOf(*s, data);
    if (device < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return (HKEY)INVALID_HANDLE_VALUE;
    }
    HANDLE key = NULL;
    if (!(FindDevice(device)->regQuirks & SIMKS_REG_NO_KEY))
        key = NewHandle(Kind::Key, device);
    if (!key) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return (HKEY)INVALID_HANDLE_VALUE;
    }
    return (HKEY)key;
}

BOOL WINAPI HookSetupDiGetDeviceInterfacePropertyW(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                   const DEVPROPKEY* key, DEVPROPTYPE* type,
                                                   PBYTE buffer, DWORD size, PDWORD required,
                                                   DWORD flags) {
    Lock lock;
    DevInfoSet* s = FindSet(set);
    if (!s)
        return SetupDiGetDeviceInterfacePropertyW(set, data, key, type, buffer, size, required,
                                                  flags);
    int device = DeviceOf(*s, data);
    if (device < 0 || !key || !type || flags)
        return Fail(ERROR_INVALID_PARAMETER);
    const Device& d = *FindDevice(device);
    bool published = d.wavert && (d.rt.Flags & SIMKS_RT_CONSTRAINTS) &&
                     IsEqualGUID(s->cls, kCategoryAudio) &&
                     IsEqualGUID(key->fmtid, kConstraints2.fmtid) && key->pid == kConstraints2.pid;
    if (!published)
        return Fail(ERROR_NOT_FOUND);
    *type = DEVPROP_TYPE_BINARY;
    if (required)
        *required = sizeof kPublished;
    if (!buffer || size < sizeof kPublished)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(buffer, &kPublished, sizeof kPublished);
    return TRUE;
}

BOOL WINAPI HookSetupDiDestroyDeviceInfoList(HDEVINFO set) {
    Lock lock;
    if (!FindSet(set))
        return SetupDiDestroyDeviceInfoList(set);
    DropHandle(set);
    return TRUE;
}

LONG WINAPI HookRegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                 LPDWORD size) {
    Lock lock;
    Handle* h = FindHandle((HANDLE)key);
    if (!h || h->kind != Kind::Key)
        return RegQueryValueExA(key, name, reserved, type, data, size);
    Count(SIMKS_REQ_REG_QUERY);
    const Device& d = *FindDevice(h->index);
    if (!name || lstrcmpiA(name, "FriendlyName") != 0 || !d.hasName)
        return ERROR_FILE_NOT_FOUND;
    if (data && !size)
        return ERROR_INVALID_PARAMETER;
    std::string value = NameValue(d);
    if (type)
        *type = REG_SZ;
    if (!size)
        return ERROR_SUCCESS;
    DWORD room = *size;
    *size = (DWORD)value.size();
    if (!data)
        return ERROR_SUCCESS;
    if (room < value.size())
        return ERROR_MORE_DATA;
    memcpy(data, value.data(), value.size());
    return ERROR_SUCCESS;
}

LONG WINAPI HookRegCloseKey(HKEY key) {
    Lock lock;
    Handle* h = FindHandle((HANDLE)key);
    if (!h || h->kind != Kind::Key)
        return RegCloseKey(key);
    DropHandle((HANDLE)key);
    return ERROR_SUCCESS;
}

} // namespace simks
