// The engine's life: construction, shut-down and destruction, the sizes of the ring and the
// packets, the player thread's start, wake-up and end, and the snapshot of its state.
#include "engine/kscore.h"

#include "diag/log.h"
#include "diag/sizes.h"
#include "ks/enum.h"

#include <cstring>
#include <new>

namespace {

// The engine keeps sizes and offsets in 32 bits, so a buffer of count x size bytes must fit them;
// a size that does not is logged with the size asked for.
bool SizeFits(const char* what, int count, int size) {
    SIZE_T bytes = 0;
    if (count > 0 && size > 0 && SizeProduct((SIZE_T)count, (SIZE_T)size, &bytes) &&
        bytes <= MAXDWORD)
        return true;
    DiagLog(1, "Cannot allocate the %s: %d x %d bytes is out of range", what, count, size);
    return false;
}

// A buffer of size bytes, or null (logged).
BYTE* AllocateBuffer(const char* what, int size) {
    if (!SizeFits(what, 1, size))
        return nullptr;
    BYTE* buffer = new (std::nothrow) BYTE[(SIZE_T)size];
    if (!buffer)
        DiagLog(1, "Cannot allocate the %s: out of memory for %llu bytes", what,
                (unsigned long long)size);
    return buffer;
}

} // namespace

void KSCore::FilterListDeleter::operator()(CKsEnumFilters* p) const {
    delete p;
}

KSCore::KSCore(KSHostSite& host) : m_host(host), m_bytes(&m_settings) {
    m_host.CopySettings(&m_settings);
    // The host keeps the count within 2..8; the packet output has room for no more, whatever the
    // host gives.
    int count = m_settings.output_buffer_cnt;
    m_packets.count = count < 2 ? 2 : count > kMaxPackets ? kMaxPackets : count;

    bool ok = m_thread.MakeEvents();
    ConfigureInputBuffer(m_settings.input_buffer_size);
    ConfigureOutputBuffer(m_settings.output_buffer_size);

    LogEnable(m_settings.logging_enabled);
    KSHardwareVolume::RecoverLeftLevel();
    EnsureFilterList();

    // A buffer that could not be had is tried again by the next open; events and the thread are
    // made only here.
    m_bReady = ok && StartPlayerThread();
    if (m_bReady)
        m_life.Watch(&KSCore::OnDeviceChange, this);
    DiagLog(1, "Constructed KSCore (Input Size:%d) (Output Size %d) (Output Cnt %d)",
            m_settings.input_buffer_size, m_settings.output_buffer_size,
            m_settings.output_buffer_cnt);
}

bool KSCore::StartPlayerThread() {
    return m_thread.Start(PlayerThreadProc, this);
}

// After the final end the thread's last pass submits nothing and blocks only on the stop and
// wake events, which are set here: it ends within kDeviceAnswerMs unless a device call of its
// own never returns. False when it did not end.
bool KSCore::StopPlayerThread() {
    if (!m_thread.Running())
        return true;
    m_thread.AskToEnd();
    WakeThread();
    return m_thread.Join();
}

bool KSCore::Shutdown() {
    if (m_bShutDown)
        return !m_bKeep;
    m_bShutDown = true;
    // No notification reaches the engine once this returns.
    m_life.StopWatching();
    End(1);
    DiagLog(1, "Attempting to close player thread");
    bool ended = StopPlayerThread();
    if (ended)
        DiagLog(1, "Player thread has closed");
    // The device list goes with the engine, whether or not a stream ever ran.
    m_pEnumFilters.reset();
    m_bKeep = !ended || m_nLostPackets != 0;
    if (m_bKeep)
        DiagLog(1, "The engine stays in memory: its device or its player thread still uses it");
    return !m_bKeep;
}

KSCore::~KSCore() {
    Shutdown();
    DiagLog(1, "Destructed KSCore");
}

void KSCore::ConfigureInputBuffer(int size) {
    m_bytes.TakeRing(AllocateBuffer("input buffer", size), (DWORD)size);
    DiagLog(1, "input buffer configured to %d bytes", (int)m_bytes.Size());
}

// Each packet output makes its packets from this plan.
void KSCore::ConfigureOutputBuffer(int size) {
    m_packets.packetSize = SizeFits("output buffer", m_packets.count, size) ? (DWORD)size : 0;
    DiagLog(1, "output buffer configured to %d bytes per packet", (int)m_packets.packetSize);
}

void KSCore::WakeThread() {
    CsGuard lock(m_csWake);
    m_thread.Wake();
    CsGuard state(m_csState);
    if (m_pOutput)
        m_pOutput->AudioWritten();
}

// Without an output, the last closed output's figures.
KSSnapshot KSCore::Snapshot() {
    KSSnapshot s = {};
    // The time queries take m_csTime, which comes before the state lock.
    int buffered = GetWrittenTime() - GetOutputTime();
    CsGuard lock(m_csState);
    LONG state = m_nState;
    s.mode = ModeOf(state);
    s.started = m_bStarted != 0;
    s.paused = m_bPaused != 0;
    s.sleeping = m_thread.Sleeping();
    s.inDeviceWait = m_thread.InDeviceWait();
    s.passes = m_thread.Passes();
    s.inputSize = m_bytes.Size();
    s.inputUsed = m_bytes.Used();
    s.packetSize = m_packets.packetSize;
    s.packetCount = m_packets.count;
    s.volume = m_bytes.Volume();
    s.bytesWritten = m_bytes.Handed();
    s.bufferedMs = buffered > 0 ? buffered : 0;
    s.lostPackets = m_nLostPackets;
    s.format = m_bytes.DeviceFormat();
    s.streamFormat = m_bytes.RingFormat();
    s.adapted = m_bAdapted;
    s.deviceVolumeAllowed = m_settings.hardware_volume_enabled != 0;
    s.fadeMs = m_settings.fade_ms;
    s.volumeKind = VolumeKind();
    if (m_pHwVolume) {
        s.deviceLevel = m_pHwVolume->Level();
        s.deviceMuted = m_pHwVolume->Muted();
    }
    s.device = DeviceOf(state);
    s.waitLeftMs = s.device == kDeviceWaiting ? m_life.WaitLeftMs() : 0;
    s.dropWhy = s.device == kDeviceGone ? m_life.DropWhy() : "";
    s.currentPacket = -1;
    s.starvedBytes = m_closed.starvedBytes;
    s.gaps = m_closed.gaps;
    memcpy(s.packetFree, m_closed.packetFree, sizeof s.packetFree);
    if (m_pOutput)
        m_pOutput->Describe(s);
    return s;
}
