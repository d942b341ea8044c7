// Device I/O, pin creation binding, message boxes, the process path and the debugger output,
// as a redirected module sees them.
#include "testbed/hooks.h"

#include "testbed/props.h"
#include "testbed/redirect.h"
#include "testbed/state.h"
#include "testbed/stream.h"

#include <climits>
#include <cstring>

namespace simks {

namespace {

// The module handle handed out for "ksuser.dll": an address inside the bed that no loaded
// module can have, so FreeLibrary or GetProcAddress by others fail harmlessly.
char g_ksuser[16];

HMODULE KsUser() {
    return reinterpret_cast<HMODULE>(g_ksuser + 1);
}

bool IsKsUserName(const char* name) {
    const char* base = name;
    for (const char* p = name; *p; ++p)
        if (*p == '\\' || *p == '/')
            base = p + 1;
    return lstrcmpiA(base, "ksuser.dll") == 0 || lstrcmpiA(base, "ksuser") == 0;
}

int FindDeviceByPath(const char* path) {
    std::deque<Device>& all = Bed().devices;
    for (size_t i = 0; i < all.size(); ++i)
        if (lstrcmpiA(all[i].path.c_str(), path) == 0)
            return (int)i;
    return -1;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// Completes a property request at once or later, by the output-size rules of KS.
BOOL FinishProperty(Answer& a, void* out, ULONG outSize, LPDWORD returned, OVERLAPPED* ov) {
    if (a.error)
        return Fail(a.error);
    ULONG needed = (ULONG)a.data.size();
    LONG status = kStatusSuccess;
    if (!a.set && outSize == 0 && needed > 0)
        status = kStatusBufferOverflow;
    else if (!a.set && outSize < needed)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (a.late) {
        std::vector<unsigned char> data =
            status == kStatusSuccess ? a.data : std::vector<unsigned char>();
        Defer(Deferred{NowUs() + (LONGLONG)a.lateMs * 1000, ov, out, data, status, needed, -1, 0});
        return Fail(ERROR_IO_PENDING);
    }
    if (status == kStatusSuccess && needed)
        memcpy(out, a.data.data(), needed);
    if (returned)
        *returned = needed;
    Signal(ov, status, needed);
    return status == kStatusSuccess ? TRUE : Fail(ERROR_MORE_DATA);
}

BOOL Property(const Handle& h, void* in, DWORD inSize, void* out, DWORD outSize, LPDWORD returned,
              OVERLAPPED* ov) {
    Count(SIMKS_REQ_PROPERTY);
    if (outSize == 0)
        Count(SIMKS_REQ_SIZE_PROBE);
    int stream = h.kind == Kind::Pin ? h.index : -1;
    int device = stream >= 0 ? FindStream(stream)->device : h.index;
    if (FindDevice(device)->removed)
        return Fail(ERROR_DEVICE_REMOVED);
    Answer a = AnswerProperty(device, stream, in, inSize, out, outSize);
    return FinishProperty(a, out, outSize, returned, ov);
}

} // namespace

HANDLE WINAPI HookCreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                              DWORD disposition, DWORD flags, HANDLE templ) {
    Lock lock;
    int device = path ? FindDeviceByPath(path) : -1;
    if (device < 0)
        return CreateFileA(path, access, share, sa, disposition, flags, templ);
    Count(SIMKS_REQ_OPEN);
    const Device& d = *FindDevice(device);
    DWORD error = d.removed ? ERROR_FILE_NOT_FOUND : d.openError;
    if (disposition != OPEN_EXISTING && !error)
        error = ERROR_ACCESS_DENIED;
    HANDLE h = error ? NULL : NewHandle(Kind::Filter, device);
    if (!h) {
        SetLastError(error ? error : ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

BOOL WINAPI HookDeviceIoControl(HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
    Lock lock;
    Handle* sim = FindHandle(h);
    if (!sim || (sim->kind != Kind::Filter && sim->kind != Kind::Pin))
        return DeviceIoControl(h, code, in, inSize, out, outSize, returned, overlapped);
    if (!overlapped)
        return Fail(ERROR_INVALID_PARAMETER);
    if (code == kIoctlProperty)
        return Property(*sim, in, inSize, out, outSize, returned, overlapped);
    if (code == kIoctlWriteStream && sim->kind == Kind::Pin) {
        Count(SIMKS_REQ_WRITE);
        return Fail(WriteStream(sim->index, out, outSize, overlapped));
    }
    if (code == kIoctlResetState && sim->kind == Kind::Pin) {
        Count(SIMKS_REQ_RESET);
        DWORD error = ResetStream(sim->index, in, inSize);
        if (error)
            return Fail(error);
        Signal(overlapped, kStatusSuccess, 0);
        if (returned)
            *returned = 0;
        return TRUE;
    }
    return Fail(ERROR_INVALID_FUNCTION);
}

// Cancels a property request still pending on a simulated handle, as KS does: it ends at once
// with STATUS_CANCELLED and no data. Stream writes are not cancelled here.
BOOL WINAPI HookCancelIoEx(HANDLE h, LPOVERLAPPED overlapped) {
    Lock lock;
    Handle* sim = FindHandle(h);
    if (!sim)
        return CancelIoEx(h, overlapped);
    Count(SIMKS_REQ_CANCEL);
    return CancelDeferred(overlapped) ? TRUE : Fail(ERROR_NOT_FOUND);
}

BOOL WINAPI HookCloseHandle(HANDLE h) {
    Lock lock;
    Handle* sim = FindHandle(h);
    if (!sim)
        return CloseHandle(h);
    // A device information set is no kernel handle; a registry key is.
    if (sim->kind == Kind::DevInfo)
        return Fail(ERROR_INVALID_HANDLE);
    Count(SIMKS_REQ_CLOSE);
    if (sim->kind == Kind::Pin)
        CloseStream(sim->index);
    DropHandle(h);
    return TRUE;
}

HMODULE WINAPI HookLoadLibraryA(LPCSTR name) {
    if (name && IsCfgMgrName(name))
        return CfgMgr();
    if (!name || !IsKsUserName(name))
        return LoadLibraryA(name);
    Lock lock;
    Count(SIMKS_REQ_LOAD_KSUSER);
    if (Bed().ksuser == SIMKS_KSUSER_NO_LIBRARY) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    return KsUser();
}

FARPROC WINAPI HookGetProcAddress(HMODULE module, LPCSTR name) {
    if (module == CfgMgr())
        return CfgMgrProc(name);
    if (module != KsUser())
        return GetProcAddress(module, name);
    Lock lock;
    bool byName = ((ULONG_PTR)name >> 16) != 0; // an ordinal fills the low 16 bits only
    if (!byName || strcmp(name, "KsCreatePin") != 0 || Bed().ksuser == SIMKS_KSUSER_NO_EXPORT) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return NULL;
    }
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&SimKs_KsCreatePin));
}

int WINAPI HookMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    Lock lock;
    Count(SIMKS_REQ_MESSAGE_BOX);
    SimKsMessageBox box{owner, type, {0}, {0}};
    lstrcpynA(box.Text, text ? text : "", sizeof box.Text);
    lstrcpynA(box.Caption, caption ? caption : "Error", sizeof box.Caption);
    Bed().boxes.push_back(box);
    return IDOK;
}

DWORD WINAPI HookGetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    Lock lock;
    bool process = module == NULL || module == GetModuleHandleA(NULL);
    if (!process || !Bed().hasProcessPath)
        return GetModuleFileNameA(module, buffer, size);
    const std::string& path = Bed().processPath;
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() >= size) {
        memcpy(buffer, path.c_str(), size - 1);
        buffer[size - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    memcpy(buffer, path.c_str(), path.size() + 1);
    return (DWORD)path.size();
}

void WINAPI HookOutputDebugStringA(LPCSTR text) {
    Lock lock;
    Bed().debugLines.push_back(text ? text : "");
}

} // namespace simks
