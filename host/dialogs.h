// The settings dialog and the About box that the record's Config and About slots show.
#pragma once

#include <windows.h>

// Procedure of the settings dialog (resource 101), run modally by Config. Replaces the settings
// record whole on OK and Defaults (StoreSettings), saves it, and marks the engine for rebuilding
// (on OK only when something changed).
INT_PTR CALLBACK ConfigDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The About box: a message box owned by parent.
void ShowAboutBox(HWND parent);
