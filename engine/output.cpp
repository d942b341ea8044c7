// What both outputs share: the choice of output for a pin, the owner of the pin, the pin's state
// requests, and the busy WaveRT device refused before a pin is made.
#include "engine/output.h"

#include "diag/log.h"
#include "engine/cyclicout.h"
#include "engine/packetout.h"
#include "ks/audfilter.h"
#include "ks/rtpin.h"

#include <new>

namespace {

// The state requests by name, for the log (KSSTATE_STOP .. KSSTATE_RUN).
const char* const kSetStateCalls[] = {
    "CKsPin::SetState(KSSTATE_STOP)", "CKsPin::SetState(KSSTATE_ACQUIRE)",
    "CKsPin::SetState(KSSTATE_PAUSE)", "CKsPin::SetState(KSSTATE_RUN)"};

KSOutput* NewCyclicOutput(PinOwner pin, CKsRtPin* rtPin, const WAVEFORMATEX& format, DWORD halfSize,
                          KSStreamSite& site, KSStreamBuffer& bytes) {
    KSCyclicOutput* output = new (std::nothrow) KSCyclicOutput(std::move(pin), rtPin, site, bytes);
    if (!output) {
        LogCause("new KSCyclicOutput", E_OUTOFMEMORY);
        return nullptr;
    }
    if (output->Open(format, halfSize))
        return output;
    delete output;
    return nullptr;
}

KSOutput* NewPacketOutput(PinOwner pin, const KSPacketPlan& packets, DWORD rate, KSStreamSite& site,
                          KSStreamBuffer& bytes) {
    if (!packets.packetSize)
        return nullptr; // the engine logged the size
    KSPacketOutput* output =
        new (std::nothrow) KSPacketOutput(std::move(pin), packets, site, bytes);
    if (!output) {
        LogCause("new KSPacketOutput", E_OUTOFMEMORY);
        return nullptr;
    }
    if (output->Open(rate))
        return output;
    delete output;
    return nullptr;
}

} // namespace

void PinCloser::operator()(CKsPin* pin) const {
    pin->ClosePin();
    delete pin;
}

KSOutput* NewOutput(CKsPin* pin, const WAVEFORMATEX& format, DWORD halfSize,
                    const KSPacketPlan& packets, KSStreamSite& site, KSStreamBuffer& bytes) {
    PinOwner owner(pin);
    if (CKsRtPin* rtPin = CKsRtPin::FromPin(pin))
        return NewCyclicOutput(std::move(owner), rtPin, format, halfSize, site, bytes);
    return NewPacketOutput(std::move(owner), packets, format.nAvgBytesPerSec, site, bytes);
}

// A count of (ULONG)-1 is indeterminate: only counts that say so make a device busy.
bool DeviceBusy(CKsAudRenFilter& filter, const WAVEFORMATEX* format) {
    CKsPin* pin = filter.FindViablePin(format);
    KSPIN_CINSTANCES n = {};
    if (!pin ||
        FAILED(filter.GetPinPropertySimple(pin->m_nId, KSPROPSETID_Pin, KSPROPERTY_PIN_CINSTANCES,
                                           &n, sizeof n)) ||
        n.PossibleCount == (ULONG)-1 || n.CurrentCount == (ULONG)-1 ||
        n.CurrentCount < n.PossibleCount)
        return false;
    DiagLog(1, "%s busy: %s is in use by another program (%lu of %lu pins taken)",
            filter.m_bRealtime ? "WaveRT device" : "Render device", filter.m_szFriendlyName,
            n.CurrentCount, n.PossibleCount);
    return true;
}

bool AllocateUnplayed(KSBytes* b, DWORD n) {
    b->data.reset(new (std::nothrow) BYTE[n]);
    if (!b->data) {
        DiagLog(1, "Cannot keep %lu unplayed bytes: out of memory; they are lost", n);
        return false;
    }
    b->size = n;
    return true;
}

HRESULT RequestState(CKsPin& pin, KSSTATE state) {
    HRESULT hr = pin.SetState(state);
    if (FAILED(hr))
        LogCause(kSetStateCalls[state], hr);
    return hr;
}
