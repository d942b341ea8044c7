// The stream's bytes: the host's writes into the ring (whole frames for a converted stream), the
// reads that hand them to an output (the pre-roll and the kept audio first, then the ring,
// converted or scaled by the volume), and the count of bytes handed to the device.
#include "engine/streambuffer.h"

#include "diag/log.h"
#include "engine/arith.h"
#include "engine/ring.h"
#include "engine/samples.h"
#include "engine/settings.h"

#include <cstring>
#include <new>

namespace {

DWORD Smaller(DWORD a, DWORD b) {
    return a < b ? a : b;
}

bool IsWidened24(const WAVEFORMATEXTENSIBLE& wfx) {
    return wfx.Samples.wValidBitsPerSample == 24;
}

} // namespace

void KSStreamBuffer::TakeRing(BYTE* ring, DWORD size) {
    m_pRing.reset(ring);
    m_dwSize = ring ? size : 0;
    Discard();
}

void KSStreamBuffer::Discard() {
    m_pRead = m_pWrite = m_pRing.get();
    InterlockedExchange(&m_nUsed, 0);
    m_dwCarry = 0;
    InterlockedExchange64(&m_qwFromRing, 0);
    ForgetKept();
}

void KSStreamBuffer::ForgetKept() {
    m_pKept.reset();
    m_dwKept = m_dwKeptRead = m_dwKeptUncounted = 0;
    m_dwPreroll = m_dwReadAhead = m_dwUncountedRead = 0;
}

bool KSStreamBuffer::PlanConversion(const WAVEFORMATEXTENSIBLE& ring,
                                    const WAVEFORMATEXTENSIBLE& device) {
    return ::PlanConversion(&m_conv, ring, device);
}

void KSStreamBuffer::SetFormats(const WAVEFORMATEXTENSIBLE& ring,
                                const WAVEFORMATEXTENSIBLE& device) {
    m_wfxRing = ring;
    m_wfxDevice = device;
    m_fadeFormat = FadeFormatOf(device);
    m_fadeIn.Start(m_fadeFormat, 0);
}

void KSStreamBuffer::StartFadeIn(DWORD frames) {
    m_fadeIn.Start(m_fadeFormat, frames);
}

void KSStreamBuffer::StartPreroll(DWORD bytes, BYTE silence) {
    m_dwPreroll = bytes;
    m_bSilence = silence;
}

// Of the packet the pin was filling, the bytes that came from the ring were never counted: they
// count when they go out again.
void KSStreamBuffer::Keep(KSBytes& unplayed) {
    DWORD left = m_dwKept - m_dwKeptRead;
    DWORD readAhead = m_dwReadAhead - m_dwUncountedRead;
    DWORD fresh = unplayed.uncounted > readAhead ? unplayed.uncounted - readAhead : 0;
    DWORD freshLeft = Smaller(left, m_dwKeptUncounted);
    if (left) {
        BYTE* both = new (std::nothrow) BYTE[unplayed.size + left];
        if (!both) {
            DiagLog(1, "Cannot keep %lu unplayed bytes: out of memory; they are lost",
                    unplayed.size);
            return;
        }
        if (unplayed.size)
            memcpy(both, unplayed.data.get(), unplayed.size);
        memcpy(both + unplayed.size, m_pKept.get() + m_dwKeptRead, left);
        unplayed.data.reset(both);
        unplayed.size += left;
    }
    m_pKept = std::move(unplayed.data);
    m_dwKept = unplayed.size;
    m_dwKeptRead = 0;
    m_dwKeptUncounted = freshLeft == left ? left + fresh : freshLeft;
    m_dwPreroll = 0;
    m_dwReadAhead = 0;
    m_dwUncountedRead = 0;
    if (m_dwKept)
        DiagLog(1, "Kept %lu bytes the device did not play", (DWORD)m_dwKept);
}

// Widened, each packed 3-byte sample takes 4 ring bytes. A stream starts at the ring's start
// and moves in whole samples, so both parts of a wrapped stretch hold whole samples too.
void KSStreamBuffer::Put(const BYTE* src, DWORD length, bool widen) {
    DWORD need = widen ? length / 3 * 4 : length;
    m_pWrite = RingStretch(m_pRing.get(), m_dwSize, m_pWrite, need,
                           [&](BYTE* ring, DWORD offset, DWORD n) {
                               if (widen)
                                   Convert24To32(ring, src + offset / 4 * 3, n / 4 * 3);
                               else
                                   memcpy(ring, src + offset, n);
                           });
}

int KSStreamBuffer::Write(const BYTE* src, DWORD length) {
    if (m_conv.active)
        return WriteFrames(src, length);
    DWORD free = m_dwSize - (DWORD)m_nUsed;
    bool widen = IsWidened24(m_wfxRing);
    DWORD need = widen ? length / 3 * 4 : length;
    if (free < need)
        return 1;
    Put(src, length, widen);
    InterlockedExchangeAdd(&m_nUsed, (LONG)need);
    return 0;
}

// Converted streams take whole frames into the ring: the start of a frame the host cut waits in
// m_carry for the rest. Refused whole (1) when the ring lacks room for the frames.
int KSStreamBuffer::WriteFrames(const BYTE* src, DWORD length) {
    bool widen =
        m_wfxRing.Samples.wValidBitsPerSample == 24 && m_wfxRing.Format.wBitsPerSample == 32;
    DWORD hostBlock = widen ? 3u * m_wfxRing.Format.nChannels : m_wfxRing.Format.nBlockAlign;
    DWORD frames = (m_dwCarry + length) / hostBlock;
    DWORD need = frames * m_wfxRing.Format.nBlockAlign;
    if (m_dwSize - (DWORD)m_nUsed < need)
        return 1;
    if (m_dwCarry && frames) {
        DWORD rest = hostBlock - m_dwCarry;
        memcpy(m_carry + m_dwCarry, src, rest);
        Put(m_carry, hostBlock, widen);
        src += rest;
        length -= rest;
        frames--;
        m_dwCarry = 0;
    }
    Put(src, frames * hostBlock, widen);
    DWORD left = length - frames * hostBlock;
    memcpy(m_carry + m_dwCarry, src + frames * hostBlock, left);
    m_dwCarry += left;
    InterlockedExchangeAdd(&m_nUsed, (LONG)need);
    return 0;
}

int KSStreamBuffer::CanWrite(DWORD packetSize) const {
    return CanWriteBytes(m_dwSize - (DWORD)m_nUsed, packetSize, IsWidened24(m_wfxRing));
}

DWORD KSStreamBuffer::Held() const {
    DWORD first = m_dwPreroll + (m_dwKept - m_dwKeptRead);
    if (!m_conv.active)
        return first + (DWORD)m_nUsed;
    return first + (DWORD)m_nUsed / m_wfxRing.Format.nBlockAlign * m_wfxDevice.Format.nBlockAlign;
}

int KSStreamBuffer::SampleVolume() const {
    DWORD volume = m_nVolume;
    if (!m_pSettings->volume_enabled || volume == (DWORD)kMaxVolume || m_bDeviceVolume)
        return kUnityVolume;
    return (int)volume;
}

void KSStreamBuffer::Read(BYTE* dst, DWORD n) {
    // A new pin's pre-roll is no part of a fade-in.
    DWORD silence = Smaller(n, m_dwPreroll);
    BYTE* start = dst + silence;
    DWORD total = n - silence;
    ReadKept(dst, n);
    if (n && m_conv.active)
        ReadConverted(dst, n);
    else if (n)
        ReadPlain(dst, n);
    if (m_fadeIn.Active())
        m_fadeIn.Apply(start, total);
}

// The pre-roll's silence and the kept audio go first; neither counts as handed again, except
// the kept audio's uncounted end.
void KSStreamBuffer::ReadKept(BYTE*& dst, DWORD& n) {
    DWORD silence = Smaller(n, m_dwPreroll);
    memset(dst, m_bSilence, silence);
    m_dwPreroll -= silence;
    DWORD kept = Smaller(n - silence, m_dwKept - m_dwKeptRead);
    if (kept)
        memcpy(dst + silence, m_pKept.get() + m_dwKeptRead, kept);
    DWORD freshFrom = m_dwKept - m_dwKeptUncounted;
    DWORD end = m_dwKeptRead + kept;
    m_dwUncountedRead +=
        end > freshFrom ? end - (m_dwKeptRead > freshFrom ? m_dwKeptRead : freshFrom) : 0;
    m_dwKeptRead = end;
    m_dwReadAhead += silence + kept;
    dst += silence + kept;
    n -= silence + kept;
}

void KSStreamBuffer::ReadPlain(BYTE* dst, DWORD n) {
    int volume = SampleVolume();
    WORD bits = m_wfxDevice.Format.wBitsPerSample;
    m_pRead = RingStretch(m_pRing.get(), m_dwSize, m_pRead, n,
                          [&](BYTE* ring, DWORD offset, DWORD length) {
                              if (volume != kUnityVolume)
                                  CopyScaled(dst + offset, ring, length, bits, (DWORD)volume);
                              else
                                  memcpy(dst + offset, ring, length);
                          });
    InterlockedExchangeAdd(&m_nUsed, -(LONG)n);
    InterlockedExchangeAdd64(&m_qwFromRing, n);
}

// Whole ring frames through a small buffer (a frame may straddle the ring's end) into whole
// device frames. The outputs ask for whole device frames (Held).
void KSStreamBuffer::ReadConverted(BYTE* dst, DWORD n) {
    BYTE chunk[4096];
    DWORD srcBlock = m_wfxRing.Format.nBlockAlign, dstBlock = m_wfxDevice.Format.nBlockAlign;
    DWORD frames = n / dstBlock, perChunk = sizeof chunk / srcBlock;
    int volume = SampleVolume();
    while (frames) {
        DWORD f = frames < perChunk ? frames : perChunk;
        DWORD bytes = f * srcBlock;
        m_pRead = RingStretch(
            m_pRing.get(), m_dwSize, m_pRead, bytes,
            [&](BYTE* ring, DWORD offset, DWORD length) { memcpy(chunk + offset, ring, length); });
        ConvertFrames(dst, chunk, f, m_conv, volume);
        InterlockedExchangeAdd(&m_nUsed, -(LONG)bytes);
        InterlockedExchangeAdd64(&m_qwFromRing, f * dstBlock);
        dst += f * dstBlock;
        frames -= f;
    }
}

void KSStreamBuffer::CountHanded(DWORD n) {
    DWORD skip = n < m_dwReadAhead ? n : m_dwReadAhead;
    DWORD old = m_dwReadAhead - m_dwUncountedRead;
    DWORD fresh = skip > old ? skip - old : 0;
    m_dwReadAhead -= skip;
    m_dwUncountedRead -= fresh;
    InterlockedExchangeAdd((volatile LONG*)&m_dwHanded, (LONG)(n - skip + fresh));
}

void KSStreamBuffer::Drop(DWORD n) {
    DWORD block = m_wfxRing.Format.nBlockAlign ? m_wfxRing.Format.nBlockAlign : 1;
    m_pRead = RingStretch(m_pRing.get(), m_dwSize, m_pRead, n, [](BYTE*, DWORD, DWORD) {});
    InterlockedExchangeAdd(&m_nUsed, -(LONG)n);
    DWORD device = n / block * m_wfxDevice.Format.nBlockAlign;
    InterlockedExchangeAdd((volatile LONG*)&m_dwHanded, (LONG)device);
    InterlockedExchangeAdd64(&m_qwFromRing, device);
}

ULONGLONG KSStreamBuffer::RingEnd() const {
    DWORD used = (DWORD)m_nUsed;
    if (m_conv.active)
        used = used / m_wfxRing.Format.nBlockAlign * m_wfxDevice.Format.nBlockAlign;
    return FromRing() + used;
}

ULONGLONG KSStreamBuffer::FromRing() const {
    return (ULONGLONG)InterlockedCompareExchange64(const_cast<LONGLONG*>(&m_qwFromRing), 0, 0);
}
