// What the engine asks of the program that hosts it: the settings it plays with, and telling the
// user what went wrong. The host implements it; the engine shows no window of its own.
#pragma once

struct KSSettings;

class KSHostSite {
  public:
    // Copies the settings as they are now into *out. The engine takes a copy when it is made and
    // when it opens a stream, and reads only its copy; called with the engine's control lock held.
    virtual void CopySettings(KSSettings* out) = 0;
    // Tells the user why a stream cannot play (the text as the user reads it), and returns once
    // the user has seen it. Called on the thread that makes the engine or opens a stream.
    virtual void TellUser(const char* text) = 0;

  protected:
    ~KSHostSite() = default;
};
