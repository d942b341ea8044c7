// Storage for the device setup class GUIDs (devguid.h only declares them without INITGUID); the
// KS GUIDs come from the platform's ksguid library.
#define INITGUID
#include <windows.h>
#include <devguid.h>
