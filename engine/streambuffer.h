// The stream's bytes from the host's Write to the output's packet or half: the ring, the
// conversion of an adapted stream, the audio kept after a lost pin, the pre-roll's silence, the
// volume rule and the count of bytes handed to the device. The outputs read from it directly.
//
// Threading: Write and CanWrite come from the host's writing thread; Held, Pending, Read,
// CountHanded and Drop from the player thread while it serves the stream; the rest from the
// control path while the player thread leaves the bytes alone (no stream, or the thread held).
// The ring's fill level is the one count both sides change, with Interlocked operations; the
// snapshot reads the counts and, under the engine's state lock, the formats.
#pragma once

#include "diag/constants.h"
#include "engine/convert.h"
#include "engine/fade.h"
#include "engine/output.h"

#include <windows.h>
#include <mmreg.h>
#include <memory>

class KSSettings;

class KSStreamBuffer {
  public:
    // The settings' volume switch is read at each scaled read (not owned).
    explicit KSStreamBuffer(const KSSettings* settings) : m_pSettings(settings) {}
    KSStreamBuffer(const KSStreamBuffer&) = delete;
    KSStreamBuffer& operator=(const KSStreamBuffer&) = delete;

    // Control path.
    // Takes ring (new[], size bytes; null when it could not be had) as the ring, empty.
    void TakeRing(BYTE* ring, DWORD size);
    DWORD Size() const { return m_dwSize; }
    bool HasRing() const { return m_pRing != nullptr; }
    // Empties the ring, the kept audio and the pre-roll; both positions at the ring's start.
    void Discard();
    // From the ring's format to the device's: false when no lossless conversion exists.
    bool PlanConversion(const WAVEFORMATEXTENSIBLE& ring, const WAVEFORMATEXTENSIBLE& device);
    bool Converts() const { return m_conv.active; }
    // The formats the ring and the device hold (the snapshot reads them under the state lock).
    void SetFormats(const WAVEFORMATEXTENSIBLE& ring, const WAVEFORMATEXTENSIBLE& device);
    const WAVEFORMATEXTENSIBLE& RingFormat() const { return m_wfxRing; }
    const WAVEFORMATEXTENSIBLE& DeviceFormat() const { return m_wfxDevice; }
    // The next reads begin with bytes of silence (a new pin's pre-roll).
    void StartPreroll(DWORD bytes, BYTE silence);
    // What a closed pin left unplayed goes first on the next pin, before what was kept before and
    // not yet read; the pre-roll left is dropped.
    void Keep(KSBytes& unplayed);
    // Drops the kept audio and the pre-roll; the ring stays.
    void ForgetKept();
    // The next frames frames read rise from silence (a raised cosine); 0 ends a fade under way.
    void StartFadeIn(DWORD frames);
    void ResetHanded() { InterlockedExchange((volatile LONG*)&m_dwHanded, 0); }

    // Host.
    // 0 when taken whole, 1 when refused (no room; nothing taken).
    int Write(const BYTE* src, DWORD length);
    // What the host may write now, at least a packet's worth or 0.
    int CanWrite(DWORD packetSize) const;

    // Player thread.
    // Bytes a read may take, in the device's format: converted streams count whole frames.
    DWORD Held() const;
    // Anything left to play: the ring, the kept audio, the pre-roll.
    bool Pending() const { return m_nUsed != 0 || m_dwPreroll != 0 || m_dwKept != m_dwKeptRead; }
    // Moves n bytes (at most Held()) into dst, in the device's format, scaled by the volume.
    void Read(BYTE* dst, DWORD n);
    // n bytes read went to the device: the handed count grows by those not counted before.
    void CountHanded(DWORD n);
    // Drops n ring bytes (whole frames) as though played: a stream without a device.
    void Drop(DWORD n);

    // The volume rule.
    void SetVolume(DWORD volume) { m_nVolume = volume; }
    DWORD Volume() const { return m_nVolume; }
    // Set while the device's own control takes the volume (KSHardwareVolume writes it).
    volatile LONG* DeviceVolumeFlag() { return &m_bDeviceVolume; }
    bool DeviceVolume() const { return m_bDeviceVolume != 0; }
    // kUnityVolume when samples pass unscaled (volume off or full, or on the device's control).
    int SampleVolume() const;

    // Counts.
    DWORD Used() const { return (DWORD)m_nUsed; } // ring bytes held
    DWORD Handed() const { return m_dwHanded; }   // handed to the device since the start
    DWORD KeptLeft() const { return m_dwKept - m_dwKeptRead; } // kept audio not yet read
    // Device bytes of audio read or dropped from the ring since the last Discard, and the same
    // with what the ring holds now (where the next write's audio begins). With the player thread
    // held or on it.
    ULONGLONG FromRing() const;
    ULONGLONG RingEnd() const;

  private:
    void Put(const BYTE* src, DWORD length, bool widen);
    int WriteFrames(const BYTE* src, DWORD length);
    void ReadKept(BYTE*& dst, DWORD& n);
    void ReadPlain(BYTE* dst, DWORD n);
    void ReadConverted(BYTE* dst, DWORD n);

    const KSSettings* m_pSettings;
    std::unique_ptr<BYTE[]> m_pRing;
    DWORD m_dwSize = 0;
    // Read and write positions: the player thread alone moves the read position and Write alone
    // the write position while a stream runs; Discard sets both back to the start.
    BYTE* m_pRead = nullptr;
    BYTE* m_pWrite = nullptr;
    volatile LONG m_nUsed = 0; // bytes held in the ring
    WAVEFORMATEXTENSIBLE m_wfxRing{};
    WAVEFORMATEXTENSIBLE m_wfxDevice{};
    KSConversion m_conv{}; // active for an adapted stream (and 20-bit audio)
    BYTE m_carry[32];      // converted streams: the start of a frame the host cut
    DWORD m_dwCarry = 0;
    volatile DWORD m_nVolume = kMaxVolume; // 0..kMaxVolume; kMaxVolume copies unscaled
    volatile LONG m_bDeviceVolume = 0;
    volatile DWORD m_dwHanded = 0;      // bytes handed to the device since the stream started
    volatile LONGLONG m_qwFromRing = 0; // see FromRing (the player thread's)
    // Read ahead of the ring: the pre-roll's silence (bytes left), then the kept audio
    // (m_dwKeptRead of m_dwKept bytes read).
    volatile DWORD m_dwPreroll = 0;
    BYTE m_bSilence = 0;
    std::unique_ptr<BYTE[]> m_pKept;
    volatile DWORD m_dwKept = 0;
    volatile DWORD m_dwKeptRead = 0;
    // The kept audio's last m_dwKeptUncounted bytes were never counted as handed (a packet the
    // closed pin was filling). m_dwReadAhead: pre-roll and kept bytes read and not yet handed,
    // which the next CountHanded passes over, except its last m_dwUncountedRead bytes.
    DWORD m_dwKeptUncounted = 0;
    DWORD m_dwReadAhead = 0;
    DWORD m_dwUncountedRead = 0;
    // A fade-in under way (fade_ms), and the device format's figures for it.
    KSFadeFormat m_fadeFormat{};
    KSFadeIn m_fadeIn;
};
