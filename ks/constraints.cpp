// Reading the packet-size constraints a device publishes, through SetupAPI's device-interface
// properties.
#include "ks/constraints.h"

#include "diag/log.h"

#include <devpropdef.h>

// Declared here: MinGW-w64's setupapi.h lacks it; setupapi.dll has it since Windows Vista.
extern "C" WINSETUPAPI BOOL WINAPI SetupDiGetDeviceInterfacePropertyW(
    HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
    const DEVPROPKEY* PropertyKey, DEVPROPTYPE* PropertyType, PBYTE PropertyBuffer,
    DWORD PropertyBufferSize, PDWORD RequiredSize, DWORD Flags);

namespace {

// DEVPKEY_KsAudio_PacketSize_Constraints2 and the first version's key.
const DEVPROPKEY kConstraints2 = {
    {0x9404F781, 0x7191, 0x409B, {0x8B, 0x0B, 0x80, 0xBF, 0x6E, 0xC2, 0x29, 0xAE}}, 2};
const DEVPROPKEY kConstraints1 = {
    {0x13E004D6, 0xB066, 0x43BD, {0x91, 0x3B, 0xA4, 0x15, 0xCD, 0x13, 0xDA, 0x87}}, 2};

// The head both versions share; the processing-mode constraints that follow are not needed.
struct PacketSizeHead {
    ULONG MinPacketPeriodInHns;
    ULONG PacketSizeFileAlignment; // a mask: 0x7F means 128 bytes
    ULONG MaxPacketSizeInBytes;    // version 2; reserved in version 1
    ULONG NumProcessingModeConstraints;
};

// The record under key, when the device has one of the binary type that fits the buffer: its
// size, else 0.
DWORD ReadRecord(HDEVINFO hSet, PSP_DEVICE_INTERFACE_DATA pInterface, const DEVPROPKEY& key,
                 BYTE* pBuffer, DWORD cbBuffer) {
    DEVPROPTYPE type = 0;
    DWORD cbRequired = 0;
    if (!SetupDiGetDeviceInterfacePropertyW(hSet, pInterface, &key, &type, pBuffer, cbBuffer,
                                            &cbRequired, 0))
        return 0;
    return type == DEVPROP_TYPE_BINARY && cbRequired <= cbBuffer ? cbRequired : 0;
}

} // namespace

ULONG ReadPacketAlignment(HDEVINFO hSet, PSP_DEVICE_INTERFACE_DATA pInterface, LPCSTR pszPath) {
    // Room for the head and 40 processing modes; a longer record is not one a driver writes.
    union {
        PacketSizeHead head;
        BYTE bytes[1024];
    } record = {};
    DWORD cb = ReadRecord(hSet, pInterface, kConstraints2, record.bytes, sizeof record);
    if (!cb)
        cb = ReadRecord(hSet, pInterface, kConstraints1, record.bytes, sizeof record);
    if (!cb)
        return 0;
    const PacketSizeHead& head = record.head;
    ULONG align = head.PacketSizeFileAlignment + 1;
    if (cb < sizeof head || !align || (align & (align - 1)) || align > 4096) {
        DiagLog(1, "Packet-size constraints of %s not used: %lu bytes, alignment mask 0x%lx",
                pszPath, cb, head.PacketSizeFileAlignment);
        return 0;
    }
    DiagLog(1,
            "Packet-size constraints of %s: %lu-byte alignment, packets of at least %lu x 100 ns, "
            "at most %lu bytes (0: no limit)",
            pszPath, align, head.MinPacketPeriodInHns, head.MaxPacketSizeInBytes);
    return align;
}
