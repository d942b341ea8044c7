// The platform headers the KS layer is written against, in the order they depend on each other:
// Win32 with its I/O control codes, the multimedia wave formats (needed by ksmedia.h's audio
// records), then KS itself.
#pragma once

#include <windows.h>
#include <winioctl.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>
