// The packet-size constraints a device publishes on its KSCATEGORY_AUDIO interface
// (DEVPKEY_KsAudio_PacketSize_Constraints2, or the first version of the record): the alignment
// each packet of the cyclic buffer must keep, where the hardware has one.
#pragma once

#include <windows.h>
#include <setupapi.h>

// Bytes each packet starts on a multiple of, as the device publishes it; 0 when it publishes
// none or a record that cannot be used (logged): too short, or an alignment that is not a power
// of two of at most a page.
ULONG ReadPacketAlignment(HDEVINFO hSet, PSP_DEVICE_INTERFACE_DATA pInterface, LPCSTR pszPath);
