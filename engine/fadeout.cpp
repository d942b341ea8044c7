// The fades at a pause, a seek and a stop (fade_ms; 0, the default, fades nothing): what the
// device is about to play goes again faded out before the pin pauses or stops, and the audio
// after a resume or a seek fades in. A gapless hand-over and a track's natural end pass untouched.
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
    if (!unplayed.size) // the device had played everything: a track's end
        return true;
    DWORD room = m_pOutput->Capacity() / block * block;
    DWORD size = Smallest(unplayed.size / block * block, FadeFramesNow() * block, room);
    if (size) {
        ApplyFade(unplayed.data.get(), size / block, FadeFormatOf(wfx), 0, size / block, false);
        m_pOutput->PlayNow(unplayed.data.get(), size);
    }
    DiagLog(1, "Fade: %lu bytes played faded out, %lu after them kept", size, unplayed.size - size);
    Rest(unplayed, size, rest);
    return true;
}

// The stop: what follows the fade goes. A cyclic buffer fades where its audio lies (a seek there
// does not fade out: the player thread, held for the fade, would miss the halves due meanwhile).
void KSCore::FadeForStop() {
    KSBytes rest;
    if (FadeOutAtDevice(&rest) || !CanFade())
        return;
    const WAVEFORMATEXTENSIBLE& wfx = m_bytes.DeviceFormat();
    m_pOutput->FadeInPlace(FadeFramesNow() * wfx.Format.nBlockAlign, FadeFormatOf(wfx));
}

// The pause: the rest waits as kept audio, and the resume fades in from it.
void KSCore::FadeForPause() {
    KSBytes rest;
    if (!FadeOutAtDevice(&rest))
        return;
    m_bytes.Keep(rest);
    m_bytes.StartFadeIn(FadeFramesNow());
}
