// Driving the plug-in's windows as a user would. Config runs modally on the test's own thread
// (the thread that ran Init, as in the player) while a second thread finds the dialog by its
// caption and works its controls with the messages a user's clicks and keys produce. The
// second thread makes no GoogleTest assertion: it records what it saw for the test to judge.
#pragma once

#include "resources/resource.h"
#include "tests/plugin_fixture.h"

#include <functional>
#include <string>

class DialogFixture : public PluginFixture {
  public:
    // Registers the common-control classes, as the player does, then loads the DLL.
    static void SetUpTestSuite();

  protected:
    // Runs Config here; drive gets the dialog on a second thread. Whatever drive leaves open is
    // cancelled. False when the dialog did not appear within a few seconds.
    bool RunConfig(const std::function<void(HWND)>& drive);
    std::string Ini(const char* key);
    int IniInt(const char* key);
    // Lines of the log that contain text.
    int LogCount(const std::string& text);
};

// The top-level window of this process with this caption, waited for up to timeoutMs; or null.
HWND WaitForWindow(const char* caption, DWORD timeoutMs = kHangMs);
// Top-level windows of this process with this caption.
int CountWindows(const char* caption);
// What the button itself sends its parent when clicked.
void Press(HWND dialog, int id);
// A drag of the slider to pos, as the trackbar reports it.
void MoveSlider(HWND dialog, int id, int pos);
// A key press on the control (WM_KEYDOWN and WM_KEYUP).
void PressKey(HWND dialog, int id, UINT key);
int SliderPos(HWND dialog, int id);
std::string ItemText(HWND dialog, int id);
bool IsChecked(HWND dialog, int id);
void SetChecked(HWND dialog, int id, bool checked);
// Runs fn on a new thread while this thread dispatches its messages; returns when fn has.
void RunPumping(const std::function<void()>& fn);
// Dispatches the messages waiting for this thread.
void Pump();
