// qhost's stand-in for the player's Preferences: the settings dialog run modally on qhost's UI
// thread, as the player runs it, with the clicks a user would make done by a thread timer.
#pragma once

#include "host/out_module.h"

// Registers the common-control classes (trackbar, tooltip), as the player does at start-up.
void RegisterCommonControls();

struct ConfigScript {
    bool openStatus = false; // press "Open Status" once the dialog is up
    DWORD closeAfterMs = 0;  // press Cancel this long after the dialog is up (0: the user does)
    HANDLE closeWhen = NULL; // press Cancel when this handle is signalled (may be null)
};

// Runs mod->Config(owner) on the calling thread and follows the script. Prints the screen
// rectangle of each plug-in window as it appears ("window "CAPTION" WxH+X+Y").
void RunConfigDialog(Out_Module* mod, HWND owner, const ConfigScript& script);
