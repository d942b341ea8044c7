// The engine's life: construction, destruction, the ring and packet buffers, and the end of a
// stream.
#include "engine/kscore.h"

#include "diag/log.h"
#include "host/settings.h"
#include "ks/enum.h"
#include "ks/pin.h"

#include <new>

KSCore* g_pKSCore = nullptr;

KSCore::KSCore(HWND hwndParent, HINSTANCE hInstance, KSSettings* pSettings)
    : m_hwndParent(hwndParent), m_hInstance(hInstance), m_pSettings(pSettings) {
    AttachToStatus();
    m_nPacketCount = pSettings->output_buffer_cnt;
    InitializeCriticalSection(&m_csWake);
    InitializeCriticalSection(&m_csControl);

    bool ok = AllocateEvents();
    ConfigureInputBuffer(pSettings->input_buffer_size);
    ConfigureOutputBuffer(pSettings->output_buffer_size);
    if (ok)
        InitPackets(true);
    m_nCurrentPacket = -1;

    LogEnable(pSettings->logging_enabled);
    EnsureFilterList();

    ok = ok && m_pInputBuffer && m_pOutputBuffer;
    if (ok) {
        m_hThread = CreateThread(NULL, 0, PlayerThreadProc, this, 0, &m_dwThreadId);
        if (m_hThread)
            SetThreadPriority(m_hThread, THREAD_PRIORITY_TIME_CRITICAL);
    }
    m_bReady = ok && m_hThread;
    DiagLog(1, "Constructed KSCore (Input Size:%d) (Output Size %d) (Output Cnt %d)",
            pSettings->input_buffer_size, pSettings->output_buffer_size,
            pSettings->output_buffer_cnt);
}

// Creates the event array: the stop event, one completion event per packet (made by
// InitPackets) and the wake event. Returns false when any is missing.
bool KSCore::AllocateEvents() {
    m_phEvents = new (std::nothrow) HANDLE[m_nPacketCount + 1]();
    m_hWakeEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (!m_phEvents || !m_hWakeEvent)
        return false;
    m_phEvents[0] = CreateEventA(NULL, TRUE, FALSE, NULL);
    return m_phEvents[0] != NULL;
}

KSCore::~KSCore() {
    End(1);
    CloseDiagnosticWindow();
    DiagLog(1, "Attempting to close player thread");
    if (m_hThread) {
        InterlockedExchange(&m_bExitThread, 1);
        SetEvent(m_phEvents[0]);
        WakeThread();
        WaitForSingleObject(m_hThread, INFINITE);
        CloseHandle(m_hThread);
        m_hThread = nullptr;
    }
    DiagLog(1, "Player thread has closed");

    DeleteCriticalSection(&m_csControl);
    DeleteCriticalSection(&m_csWake);
    for (int i = 0; m_phEvents && i <= m_nPacketCount; i++) {
        if (m_phEvents[i])
            CloseHandle(m_phEvents[i]);
    }
    if (m_hWakeEvent)
        CloseHandle(m_hWakeEvent);
    delete[] m_pOutputBuffer;
    delete[] m_pInputBuffer;
    delete[] m_phEvents;
    DiagLog(1, "Destructed KSCore");
}

void KSCore::ConfigureInputBuffer(int size) {
    delete[] m_pInputBuffer;
    m_pInputBuffer = new (std::nothrow) BYTE[size];
    m_dwInputSize = m_pInputBuffer ? (DWORD)size : 0;
    m_pReadPtr = m_pWritePtr = m_pInputBuffer;
    InterlockedExchange(&m_nInputUsed, 0);
    DiagLog(1, "input buffer configured to %d bytes", (int)m_dwInputSize);
}

void KSCore::ConfigureOutputBuffer(int size) {
    delete[] m_pOutputBuffer;
    m_pOutputBuffer = new (std::nothrow) BYTE[(size_t)m_nPacketCount * size];
    m_dwPacketSize = m_pOutputBuffer ? (DWORD)size : 0;
    DiagLog(1, "output buffer configured to %d bytes per packet", (int)m_dwPacketSize);
}

void KSCore::InitPackets(bool createEvents) {
    for (int i = 0; i < m_nPacketCount; i++) {
        if (createEvents)
            m_phEvents[i + 1] = CreateEventA(NULL, TRUE, FALSE, NULL);
        KSPacket& p = m_Packets[i];
        ZeroMemory(&p, sizeof p);
        p.Signal.hEvent = m_phEvents[i + 1];
        p.Header.Data = m_pOutputBuffer ? m_pOutputBuffer + i * m_dwPacketSize : nullptr;
        p.Header.PresentationTime.Numerator = 1;
        p.Header.PresentationTime.Denominator = 1;
        p.Header.Size = sizeof(KSSTREAM_HEADER);
    }
}

// True when no packet is with the device (timeout 0: a test; INFINITE: a wait).
bool KSCore::AllPacketsFree(DWORD timeout) {
    return WaitForMultipleObjects(m_nPacketCount, m_phEvents + 1, TRUE, timeout) != WAIT_TIMEOUT;
}

void KSCore::WakeThread() {
    EnterCriticalSection(&m_csWake);
    m_dwWakeTime = timeGetTime() & 0x7FFFFFFF;
    if (WaitForSingleObject(m_hWakeEvent, 0) == WAIT_TIMEOUT)
        DiagLog(0, "Thread woke at %d", (int)m_dwWakeTime);
    SetEvent(m_hWakeEvent);
    LeaveCriticalSection(&m_csWake);
}

void KSCore::End() {
    DiagLog(1, "End()");
    InterlockedExchange(&m_bStarted, 0);
    EnterCriticalSection(&m_csControl);
    DiagLog(1, "End(force=%d)", 0);
    EndInternal(0);
    LeaveCriticalSection(&m_csControl);
}

void KSCore::End(int force) {
    EnterCriticalSection(&m_csControl);
    DiagLog(1, "End(force=%d)", force);
    EndInternal(force);
    LeaveCriticalSection(&m_csControl);
}

// The drain is complete when the ring is empty and the packet being filled, if any, holds no
// bytes: the player thread has submitted everything it took from the ring.
bool KSCore::DrainDone() {
    if (m_nInputUsed != 0)
        return false;
    LONG current = m_nCurrentPacket;
    return current < 0 || m_Packets[current].Header.DataUsed == 0;
}

void KSCore::EndInternal(int force) {
    DiagLog(1, "EndInternal() - mode=%d force=%d", (int)m_nMode, force);
    if (m_nMode != MODE_OPEN)
        return;
    if (m_pSettings->gapless_enabled && !force)
        return;
    bool paused = m_bPaused != 0;
    if (paused) {
        m_pReadPtr = m_pWritePtr = m_pInputBuffer;
        InterlockedExchange(&m_nInputUsed, 0);
    }
    InterlockedExchange(&m_nMode, MODE_ENDING);
    if (!paused) {
        // In ending mode the player thread submits partly filled packets too; wake it so that
        // it does so even when it went to sleep on an empty ring.
        if (GetCurrentThreadId() != m_dwThreadId)
            WakeThread();
        while (!DrainDone())
            Sleep(10);
        AllPacketsFree(INFINITE);
    }
    if (m_pRenderPin) {
        m_pRenderPin->SetState(KSSTATE_PAUSE);
        m_pRenderPin->SetState(KSSTATE_STOP);
    }
    AllPacketsFree(INFINITE);
    CloseOutput();
}

void KSCore::CloseOutput() {
    if (m_pRenderPin) {
        m_pRenderPin->ClosePin();
        delete m_pRenderPin;
        m_pRenderPin = nullptr;
    }
    if (m_pEnumFilters) {
        delete m_pEnumFilters;
        m_pEnumFilters = nullptr;
    }
    InterlockedExchange(&m_nMode, MODE_CLOSED);
    DiagLog(1, "Output Closed");
}
