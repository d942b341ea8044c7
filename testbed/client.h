// A driver client of the simulated devices: raw KS requests as any client makes them, without the
// product's KS layer, so that the bed's tests and its benchmark judge the bed on its own.
#pragma once

#include "testbed/ksplatform_doc.h"
#include "testbed/redirect.h"

#include <windows.h>

#include <memory>
#include <vector>

namespace bedtest {

inline HANDLE OpenFilter(int device) {
    return CreateFileA(SimKs_DevicePath(device), GENERIC_READ | GENERIC_WRITE, 0, NULL,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, NULL);
}

inline simks::KsPinProperty PinRequest(ULONG pin, ULONG id) {
    simks::KsPinProperty p = {};
    p.Property.Set = simks::kSetPin;
    p.Property.Id = id;
    p.Property.Flags = simks::kPropGet;
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
        x.SubFormat = simks::kSubtypePcm;
    }
    return x;
}

// KsCreatePin through "ksuser.dll", as the product binds it, with the standard interface given.
inline DWORD CreatePin(HANDLE filter, const WAVEFORMATEXTENSIBLE& wfx, HANDLE* pin,
                       ULONG interfaceId = simks::kInterfaceStreaming) {
    ULONG wave = wfx.Format.wFormatTag == WAVE_FORMAT_PCM ? 18 : 18 + wfx.Format.cbSize;
    std::vector<unsigned char> block(sizeof(simks::KsPinConnect) + sizeof(simks::KsDataFormat) +
                                     wave);
    simks::KsPinConnect* c = reinterpret_cast<simks::KsPinConnect*>(block.data());
    c->Interface.Set = simks::kInterfaceSetStandard;
    c->Interface.Id = interfaceId;
    c->Medium.Set = simks::kMediumSetStandard;
    c->Priority.PriorityClass = simks::kPriorityNormal;
    c->Priority.PrioritySubClass = 1;
    simks::KsDataFormat* f = reinterpret_cast<simks::KsDataFormat*>(c + 1);
    f->FormatSize = sizeof(simks::KsDataFormat) + wave;
    f->SampleSize = wfx.Format.nBlockAlign;
    f->MajorFormat = simks::kFormatAudio;
    f->SubFormat = simks::kSubtypePcm;
    f->Specifier = simks::kSpecifierWaveFormatEx;
    memcpy(f + 1, &wfx, wave);
    typedef DWORD(WINAPI * CreatePinFn)(HANDLE, simks::KsPinConnect*, ACCESS_MASK, PHANDLE);
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

inline DWORD SetState(HANDLE pin, ULONG state) {
    simks::KsIdentifier p = {simks::kSetConnection, simks::kConnectionState, simks::kPropSet};
    DWORD n = 0;
    return Ioctl(pin, simks::kIoctlProperty, &p, sizeof p, &state, sizeof state, &n);
}

// One output packet: a stream header, its OVERLAPPED with a manual-reset event, its data.
struct Packet {
    simks::KsStreamHeader header;
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
            DeviceIoControl(pin, simks::kIoctlWriteStream, NULL, 0, &header, header.Size, &n, &ov);
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
    SetState(pin, simks::kStatePause);
    for (int i = 0; i < 4; ++i) {
        packets.emplace_back(new Packet(packetBytes, (unsigned char)i));
        events[i] = packets[i]->ov.hEvent;
        packets[i]->Submit(pin);
    }
    SetState(pin, simks::kStateRun);
    bool ok = true;
    while (ok && !done()) {
        DWORD w = WaitForMultipleObjects(4, events, FALSE, 10);
        if (w < WAIT_OBJECT_0 + 4)
            packets[w - WAIT_OBJECT_0]->Submit(pin);
        ok = w < WAIT_OBJECT_0 + 4 || w == WAIT_TIMEOUT;
    }
    SetState(pin, simks::kStateStop);
    return ok;
}

} // namespace bedtest
