// A driver client of the simulated devices: raw KS requests as any client makes them, without the
// product's KS layer, so that the bed's tests and its benchmark judge the bed on its own.
#pragma once

#include "testbed/redirect.h"

#include <windows.h>
#include <winioctl.h>
#include <ks.h>
#include <ksmedia.h>

#include <memory>
#include <vector>

namespace bedtest {

inline HANDLE OpenFilter(int device) {
    return CreateFileA(SimKs_DevicePath(device), GENERIC_READ | GENERIC_WRITE, 0, NULL,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, NULL);
}

inline KSP_PIN PinRequest(ULONG pin, ULONG id) {
    KSP_PIN p = {};
    p.Property.Set = KSPROPSETID_Pin;
    p.Property.Id = id;
    p.Property.Flags = KSPROPERTY_TYPE_GET;
    p.PinId = pin;
    return p;
}

inline WAVEFORMATEXTENSIBLE Format(DWORD rate, WORD channels, WORD bits, bool extensible) {
    WAVEFORMATEXTENSIBLE x = {};
    x.Format.wFormatTag = extensible ? WAVE_FORMAT_EXTENSIBLE : WAVE_FORMAT_PCM;
    x.Format.nChannels = channels;
    x.Format.nSamplesPerSec = rate;
    x.Format.wBitsPerSample = bits;
    x.Format.nBlockAlign = (WORD)(channels * bits / 8);
    x.Format.nAvgBytesPerSec = rate * x.Format.nBlockAlign;
    if (extensible) {
        x.Format.cbSize = 22;
        x.Samples.wValidBitsPerSample = bits;
        x.dwChannelMask = channels == 2 ? 3 : 4;
        x.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    }
    return x;
}

// KsCreatePin through "ksuser.dll", as the product binds it, with the standard interface given.
inline DWORD CreatePin(HANDLE filter, const WAVEFORMATEXTENSIBLE& wfx, HANDLE* pin,
                       ULONG interfaceId = KSINTERFACE_STANDARD_STREAMING) {
    ULONG wave = wfx.Format.wFormatTag == WAVE_FORMAT_PCM ? 18 : 18 + wfx.Format.cbSize;
    std::vector<unsigned char> block(sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT) + wave);
    KSPIN_CONNECT* c = reinterpret_cast<KSPIN_CONNECT*>(block.data());
    c->Interface.Set = KSINTERFACESETID_Standard;
    c->Interface.Id = interfaceId;
    c->Medium.Set = KSMEDIUMSETID_Standard;
    c->Priority.PriorityClass = KSPRIORITY_NORMAL;
    c->Priority.PrioritySubClass = 1;
    KSDATAFORMAT* f = reinterpret_cast<KSDATAFORMAT*>(c + 1);
    f->FormatSize = sizeof(KSDATAFORMAT) + wave;
    f->SampleSize = wfx.Format.nBlockAlign;
    f->MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
    f->SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    f->Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
    memcpy(f + 1, &wfx, wave);
    typedef DWORD(WINAPI * CreatePinFn)(HANDLE, PKSPIN_CONNECT, ACCESS_MASK, PHANDLE);
    FARPROC proc = GetProcAddress(LoadLibraryA("ksuser.dll"), "KsCreatePin");
    if (!proc)
        return ERROR_PROC_NOT_FOUND;
    CreatePinFn create = reinterpret_cast<CreatePinFn>(reinterpret_cast<void (*)()>(proc));
    return create(filter, c, GENERIC_READ | GENERIC_WRITE, pin);
}

// One request, waited for; returns the Win32 error (0 on success) and the byte count.
inline DWORD Ioctl(HANDLE h, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                   DWORD* returned) {
    OVERLAPPED ov = {};
    HANDLE event = CreateEventA(NULL, FALSE, FALSE, NULL);
    ov.hEvent = event;
    DWORD error = 0;
    if (!DeviceIoControl(h, code, in, inSize, out, outSize, returned, &ov)) {
        error = GetLastError();
        if (error == ERROR_IO_PENDING) {
            WaitForSingleObject(event, INFINITE);
            error = 0;
            *returned = (DWORD)ov.InternalHigh;
        }
    }
    CloseHandle(event);
    return error;
}

inline DWORD SetState(HANDLE pin, KSSTATE state) {
    KSPROPERTY p = {KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, KSPROPERTY_TYPE_SET};
    DWORD n = 0;
    return Ioctl(pin, IOCTL_KS_PROPERTY, &p, sizeof p, &state, sizeof state, &n);
}

// One output packet: a stream header, its OVERLAPPED with a manual-reset event, its data.
struct Packet {
    KSSTREAM_HEADER header;
    OVERLAPPED ov;
    std::vector<unsigned char> data;

    explicit Packet(size_t size, unsigned char seed = 0) : header(), ov(), data(size) {
        for (size_t i = 0; i < size; ++i)
            data[i] = (unsigned char)(seed + i * 7);
        ov.hEvent = CreateEventA(NULL, TRUE, TRUE, NULL);
    }
    ~Packet() { CloseHandle(ov.hEvent); }
    Packet(const Packet&) = delete;
    Packet& operator=(const Packet&) = delete;

    // Submits the packet; returns the error of DeviceIoControl (ERROR_IO_PENDING when queued).
    DWORD Submit(HANDLE pin) {
        header.Size = sizeof header;
        header.Data = data.data();
        header.FrameExtent = (ULONG)data.size();
        header.DataUsed = (ULONG)data.size();
        ResetEvent(ov.hEvent);
        DWORD n = 0;
        BOOL ok =
            DeviceIoControl(pin, IOCTL_KS_WRITE_STREAM, NULL, 0, &header, header.Size, &n, &ov);
        return ok ? 0 : GetLastError();
    }
    bool Done() const { return WaitForSingleObject(ov.hEvent, 0) == WAIT_OBJECT_0; }
};

// Keeps four packets of packetBytes in flight on a pin: submits them in PAUSE, sets RUN, and
// resubmits each one as it comes back until done() holds; the pin is then stopped. Returns false
// when a wait failed.
template <typename Done> bool KeepFourInFlight(HANDLE pin, ULONG packetBytes, Done done) {
    std::vector<std::unique_ptr<Packet>> packets;
    HANDLE events[4];
    SetState(pin, KSSTATE_PAUSE);
    for (int i = 0; i < 4; ++i) {
        packets.emplace_back(new Packet(packetBytes, (unsigned char)i));
        events[i] = packets[i]->ov.hEvent;
        packets[i]->Submit(pin);
    }
    SetState(pin, KSSTATE_RUN);
    bool ok = true;
    while (ok && !done()) {
        DWORD w = WaitForMultipleObjects(4, events, FALSE, 10);
        if (w < WAIT_OBJECT_0 + 4)
            packets[w - WAIT_OBJECT_0]->Submit(pin);
        ok = w < WAIT_OBJECT_0 + 4 || w == WAIT_TIMEOUT;
    }
    SetState(pin, KSSTATE_STOP);
    return ok;
}

} // namespace bedtest
