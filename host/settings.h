// The settings store: the record of engine/settings.h kept as ten keys in the "Quellor" section
// of the host's INI file. Loaded once at construction, saved only by the settings dialog.
#pragma once

#include "engine/settings.h"

// Settings file path for an executable path: everything from the first "." replaced by ".ini".
// A path without "." gets ".ini" appended. The result always ends in ".ini" and fits
// MAX_PATH + 1 bytes.
void BuildIniPath(const char* exePath, char* out);
