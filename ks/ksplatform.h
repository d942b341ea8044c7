// The platform headers the KS layer is written against, in the order they depend on each other:
// Win32, the multimedia wave formats (needed by ksmedia.h's audio records), then KS itself.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>
