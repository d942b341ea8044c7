// The fades at a pause, a seek and a stop (fade_ms; 0, the default, fades nothing): what the
// device is about to play goes again faded out (packets) or fades where it lies (a cyclic buffer)
// before the pin pauses or stops, and the audio after a resume or a seek fades in. A gapless
// hand-over and a track's natural end pass untouched.
#include "engine/kscore.h"

#include "diag/log.h"
#include "engine/fade.h"
#include "ks/pin.h"

#include <cstring>

namespace {

DWORD Smallest(DWORD a, DWORD b, DWORD c) {
    DWORD ab = a < b ? a : b;
    return ab < c ? ab : c;
}

// What follows the first size bytes of all becomes rest (the same memory).
void Rest(KSBytes& all, DWORD size, KSBytes* rest) {
    DWORD left = all.size - size;
    if (!left)
        return;
    memmove(all.data.get(), all.data.get() + size, left);
    rest->data = std::move(all.data);
    rest->size = left;
    rest->uncounted = all.uncounted < left ? all.uncounted : left;
}

} // namespace

// Frames of the fade at the device's rate.
DWORD KSCore::FadeFramesNow() const {
    return FadeFrames(m_bytes.DeviceFormat().Format, (DWORD)m_settings.fade_ms);
}

// A running pin of a stream in a format the fade knows.
bool KSCore::CanFade() {
    return FadeFormatOf(m_bytes.DeviceFormat()).bytes && m_nState == kStatePlaying && m_pOutput &&
           m_pOutput->Pin().m_State == KSSTATE_RUN;
}

// Under m_csControl, the player thread held or its pause acknowledged. The device's unplayed
// audio comes back; its first fade_ms (or what there is) plays faded out, and the call returns
// once it has. True with *rest holding the rest, the stream's next audio; false with nothing
// changed (no running pin, a cyclic buffer, a format without a fade, a device that kept its
// packets).
bool KSCore::FadeOutAtDevice(KSBytes* rest) {
    if (!CanFade())
        return false;
    const WAVEFORMATEXTENSIBLE& wfx = m_bytes.DeviceFormat();
    DWORD block = wfx.Format.nBlockAlign;
    ULONGLONG taken = m_pOutput->Taken();
    KSBytes unplayed;
    if (!m_pOutput->TakeBack(&unplayed))
        return false;
    PinGone(taken > unplayed.size ? taken - unplayed.size : 0);
    if (!unplayed.size) { // the device had played everything: a track's end
        m_pOutput->PlayNow(nullptr, 0);
        return true;
    }
    DWORD room = m_pOutput->Capacity() / block * block;
    DWORD size = Smallest(unplayed.size / block * block, FadeFramesNow() * block, room);
    if (size)
        ApplyFade(unplayed.data.get(), size / block, FadeFormatOf(wfx), 0, size / block, false);
    m_pOutput->PlayNow(unplayed.data.get(), size);
    DiagLog(1, "Fade: %lu bytes played faded out, %lu after them kept", size, unplayed.size - size);
    Rest(unplayed, size, rest);
    return true;
}

// Under m_csControl with the player thread held, on a cyclic buffer: the fade goes where the audio
// lies, the thread is let go to write silence into the halves that come due while the hardware
// plays it, and is held again once it has. False, with nothing changed, where it cannot.
bool KSCore::FadeInBuffer(KSBytes* rest) {
    if (!CanFade())
        return false;
    const WAVEFORMATEXTENSIBLE& wfx = m_bytes.DeviceFormat();
    DWORD size = FadeFramesNow() * wfx.Format.nBlockAlign;
    if (!m_pOutput->FadeInPlace(size, FadeFormatOf(wfx), rest))
        return false;
    ReleasePlayerThread();
    WakeThread();
    m_pOutput->AwaitFade();
    HoldPlayerThread();
    DiagLog(1, "Fade: played faded out in the WaveRT buffer, %lu bytes after it kept",
            rest ? rest->size : 0);
    return true;
}

// The stop: what follows the fade goes.
void KSCore::FadeForStop() {
    KSBytes rest;
    if (!FadeOutAtDevice(&rest))
        FadeInBuffer(nullptr);
}

// The pause: the rest waits as kept audio, and the resume fades in from it. On a cyclic buffer
// the thread, paused, is held instead while the fade plays; the heard audio then counts as a
// gone pin's, and the resume puts the kept audio just past the position, as a seek does.
void KSCore::FadeForPause() {
    KSBytes rest;
    if (!FadeOutAtDevice(&rest)) {
        HoldPlayerThread();
        InterlockedExchange(&m_bPaused, 0);
        bool faded = FadeInBuffer(&rest);
        InterlockedExchange(&m_bPaused, 1);
        ReleasePlayerThread();
        if (!faded)
            return;
        CsGuard state(m_csState);
        m_clock.PinGone(m_pOutput->Played());
        m_pOutput->Flush();
    }
    if (rest.size)
        m_bytes.Keep(rest);
    m_bytes.StartFadeIn(FadeFramesNow());
}
