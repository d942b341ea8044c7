// Storage for the device setup class GUIDs (devguid.h only declares them without INITGUID); the
// KS GUIDs are the bed's own (ksplatform_doc.h, rtplatform.h).
#define INITGUID
#include <windows.h>
#include <devguid.h>
