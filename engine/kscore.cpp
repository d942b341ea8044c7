// The engine's life: construction, shut-down and destruction, the ring and packet buffers, and
// the player thread's start and end.
#include "engine/kscore.h"

#include "diag/log.h"
#include "diag/sizes.h"
#include "host/settings.h"
#include "ks/enum.h"

#include <new>

KSCore* g_pKSCore = nullptr;

namespace {

// A buffer of count x size bytes, or null. The engine keeps sizes and offsets in 32 bits, so a
// buffer must fit them; a size that does not, or memory that cannot be had, is logged with the
// size asked for.
BYTE* AllocateBuffer(const char* what, int count, int size) {
    unsigned long long asked = (unsigned long long)count * (unsigned long long)size;
    SIZE_T bytes = 0;
    if (count <= 0 || size <= 0 || !SizeProduct((SIZE_T)count, (SIZE_T)size, &bytes) ||
        bytes > MAXDWORD) {
        DiagLog(1, "Cannot allocate the %s: %d x %d bytes is out of range", what, count, size);
        return nullptr;
    }
    BYTE* buffer = new (std::nothrow) BYTE[bytes];
    if (!buffer)
        DiagLog(1, "Cannot allocate the %s: out of memory for %llu bytes", what, asked);
    return buffer;
}

HANDLE NewEvent() {
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (!event)
        LogCause("CreateEventA", HRESULT_FROM_WIN32(GetLastError()));
    return event;
}

} // namespace

KSCore::KSCore(HWND hwndParent, HINSTANCE hInstance, KSSettings* pSettings)
    : m_hwndParent(hwndParent), m_hInstance(hInstance), m_pSettings(pSettings) {
    AttachToStatus();
    // The settings record keeps the count within 2..8 (Load, the dialog); m_Packets has room for
    // no more, whatever else writes the record.
    int count = pSettings->output_buffer_cnt;
    m_nPacketCount = count < 2 ? 2 : count > kMaxPackets ? kMaxPackets : count;

    bool ok = AllocateEvents();
    ConfigureInputBuffer(pSettings->input_buffer_size);
    ConfigureOutputBuffer(pSettings->output_buffer_size);
    if (ok)
        InitPackets(true);
    for (int i = 1; ok && i <= m_nPacketCount; i++)
        ok = m_phEvents[i] != NULL;
    m_nCurrentPacket = -1;

    LogEnable(pSettings->logging_enabled);
    EnsureFilterList();

    // A buffer that could not be had is tried again by the next open; events and the thread are
    // made only here.
    m_bReady = ok && StartPlayerThread();
    DiagLog(1, "Constructed KSCore (Input Size:%d) (Output Size %d) (Output Cnt %d)",
            pSettings->input_buffer_size, pSettings->output_buffer_size,
            pSettings->output_buffer_cnt);
}

// Creates the event array with the stop event, and the wake event; the packets' completion
// events are made by InitPackets. Returns false when any is missing.
bool KSCore::AllocateEvents() {
    if (!m_phEvents.Allocate(m_nPacketCount + 1)) {
        LogCause("new HANDLE[]", E_OUTOFMEMORY);
        return false;
    }
    m_hWakeEvent.Reset(NewEvent());
    m_phEvents[0] = NewEvent();
    return m_hWakeEvent.Valid() && m_phEvents[0] != NULL;
}

bool KSCore::StartPlayerThread() {
    DWORD id = 0;
    m_hThread.Reset(CreateThread(NULL, 0, PlayerThreadProc, this, 0, &id));
    if (!m_hThread.Valid()) {
        LogCause("CreateThread", HRESULT_FROM_WIN32(GetLastError()));
        return false;
    }
    m_dwThreadId = id;
    SetThreadPriority(m_hThread.Get(), THREAD_PRIORITY_TIME_CRITICAL);
    return true;
}

// After the final end the thread's last pass submits nothing and blocks only on the stop and
// wake events, which are set here: it ends within kDeviceAnswerMs unless a device call of its
// own never returns. False when it did not end.
bool KSCore::StopPlayerThread() {
    if (!m_hThread.Valid())
        return true;
    InterlockedExchange(&m_bExitThread, 1);
    SetEvent(m_phEvents[0]);
    WakeThread();
    if (WaitForSingleObject(m_hThread.Get(), kDeviceAnswerMs) != WAIT_OBJECT_0) {
        DiagLog(1, "Player thread did not end within %lu ms", kDeviceAnswerMs);
        return false;
    }
    m_hThread.Reset();
    return true;
}

bool KSCore::Shutdown() {
    if (m_bShutDown)
        return !m_bKeep;
    m_bShutDown = true;
    End(1);
    CloseDiagnosticWindow();
    DiagLog(1, "Attempting to close player thread");
    bool ended = StopPlayerThread();
    if (ended)
        DiagLog(1, "Player thread has closed");
    // The device list goes with the engine, whether or not a stream ever ran.
    delete m_pEnumFilters;
    m_pEnumFilters = nullptr;
    m_bKeep = !ended || m_nLostPackets != 0;
    if (m_bKeep)
        DiagLog(1, "The engine stays in memory: its device or its player thread still uses it");
    return !m_bKeep;
}

KSCore::~KSCore() {
    Shutdown();
    delete[] m_pOutputBuffer;
    delete[] m_pInputBuffer;
    DiagLog(1, "Destructed KSCore");
}

void KSCore::ConfigureInputBuffer(int size) {
    delete[] m_pInputBuffer;
    m_pInputBuffer = AllocateBuffer("input buffer", 1, size);
    m_dwInputSize = m_pInputBuffer ? (DWORD)size : 0;
    DiscardRing();
    DiagLog(1, "input buffer configured to %d bytes", (int)m_dwInputSize);
}

void KSCore::ConfigureOutputBuffer(int size) {
    delete[] m_pOutputBuffer;
    m_pOutputBuffer = AllocateBuffer("output buffer", m_nPacketCount, size);
    m_dwPacketSize = m_pOutputBuffer ? (DWORD)size : 0;
    DiagLog(1, "output buffer configured to %d bytes per packet", (int)m_dwPacketSize);
}

void KSCore::InitPackets(bool createEvents) {
    for (int i = 0; i < m_nPacketCount; i++) {
        if (createEvents)
            m_phEvents[i + 1] = NewEvent();
        KSPacket& p = m_Packets[i];
        ZeroMemory(&p, sizeof p);
        p.Signal.hEvent = m_phEvents[i + 1];
        // The packet memory fits 32 bits (AllocateBuffer), so no offset overflows.
        p.Header.Data = m_pOutputBuffer ? m_pOutputBuffer + (DWORD)i * m_dwPacketSize : nullptr;
        p.Header.PresentationTime.Numerator = 1;
        p.Header.PresentationTime.Denominator = 1;
        p.Header.Size = sizeof(KSSTREAM_HEADER);
    }
}

// Empties the ring and puts both positions at its start. Only while the player thread leaves the
// ring alone: no stream is open, or the thread is held off by the pause flag.
void KSCore::DiscardRing() {
    m_pReadPtr = m_pWritePtr = m_pInputBuffer;
    InterlockedExchange(&m_nInputUsed, 0);
}

void KSCore::WakeThread() {
    CsGuard lock(m_csWake);
    m_dwWakeTime = timeGetTime() & kMsClockMask;
    if (WaitForSingleObject(m_hWakeEvent.Get(), 0) == WAIT_TIMEOUT)
        DiagLog(0, "Thread woke at %d", (int)m_dwWakeTime);
    SetEvent(m_hWakeEvent.Get());
    if (m_rt.wantAudio)
        SetEvent(m_hRtWake.Get());
}
