// The settings dialog and the About box that the record's Config and About slots show.
#pragma once

#include <windows.h>

// Procedure of the settings dialog (resource 101), run modally by Config. Edits the settings
// record in place, saves it on OK and Defaults, and marks the engine for rebuilding.
INT_PTR CALLBACK ConfigDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The About box: a message box owned by parent.
void ShowAboutBox(HWND parent);
