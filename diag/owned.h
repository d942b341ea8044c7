// Small owners of what the plug-in takes from the platform: kernel handles, registry keys,
// device-information sets, GDI objects and device contexts, critical sections and slim locks.
// Each releases what it holds when it goes out of scope, so that every early return gives back
// what was taken.
// None of them copies.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <new>

// An owned resource of one kind. Traits gives the resource's type, the value that means "none"
// (Empty), whether a value is a real resource (Valid) and how it is given back (Release).
template <typename Traits> class Owned {
  public:
    typedef typename Traits::Type Type;

    Owned() : m_value(Traits::Empty()) {}
    explicit Owned(Type value) : m_value(value) {}
    ~Owned() { Reset(); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    Type Get() const { return m_value; }
    bool Valid() const { return Traits::Valid(m_value); }
    // Gives back what is held and takes value instead.
    void Reset(Type value = Traits::Empty()) {
        if (Traits::Valid(m_value))
            Traits::Release(m_value);
        m_value = value;
    }
    // Hands what is held to the caller, who then owns it.
    Type Detach() {
        Type value = m_value;
        m_value = Traits::Empty();
        return value;
    }

  private:
    Type m_value;
};

// Both NULL and INVALID_HANDLE_VALUE mean "no handle", as everywhere in the plug-in.
struct KernelHandleTraits {
    typedef HANDLE Type;
    static HANDLE Empty() { return NULL; }
    static bool Valid(HANDLE h) { return h != NULL && h != INVALID_HANDLE_VALUE; }
    static void Release(HANDLE h) { CloseHandle(h); }
};
typedef Owned<KernelHandleTraits> UniqueHandle;

struct RegKeyTraits {
    typedef HKEY Type;
    static HKEY Empty() { return NULL; }
    static bool Valid(HKEY k) { return k != NULL && k != (HKEY)INVALID_HANDLE_VALUE; }
    static void Release(HKEY k) { RegCloseKey(k); }
};
typedef Owned<RegKeyTraits> UniqueRegKey;

struct DevInfoTraits {
    typedef HDEVINFO Type;
    static HDEVINFO Empty() { return INVALID_HANDLE_VALUE; }
    static bool Valid(HDEVINFO s) { return s != NULL && s != INVALID_HANDLE_VALUE; }
    static void Release(HDEVINFO s) { SetupDiDestroyDeviceInfoList(s); }
};
typedef Owned<DevInfoTraits> UniqueDevInfo;

// Brushes, bitmaps and other objects released with DeleteObject.
struct GdiObjectTraits {
    typedef HGDIOBJ Type;
    static HGDIOBJ Empty() { return NULL; }
    static bool Valid(HGDIOBJ o) { return o != NULL; }
    static void Release(HGDIOBJ o) { DeleteObject(o); }
};
typedef Owned<GdiObjectTraits> UniqueGdiObject;

// A memory device context made with CreateCompatibleDC.
struct MemoryDcTraits {
    typedef HDC Type;
    static HDC Empty() { return NULL; }
    static bool Valid(HDC dc) { return dc != NULL; }
    static void Release(HDC dc) { DeleteDC(dc); }
};
typedef Owned<MemoryDcTraits> UniqueMemoryDc;

// A heap array of kernel handles (the engine's events), each owned and closed with the array.
// The handles lie next to each other, as WaitForMultipleObjects takes them.
class HandleArray {
  public:
    HandleArray() = default;
    ~HandleArray() { Reset(); }
    HandleArray(const HandleArray&) = delete;
    HandleArray& operator=(const HandleArray&) = delete;

    // Makes count empty slots in place of the old array; false when count is not positive or
    // there is no memory for it.
    bool Allocate(int count) {
        Reset();
        if (count <= 0)
            return false;
        m_p = new (std::nothrow) HANDLE[count]();
        m_n = m_p ? count : 0;
        return m_p != nullptr;
    }
    // Closes every handle and frees the array.
    void Reset() {
        for (int i = 0; i < m_n; i++)
            if (KernelHandleTraits::Valid(m_p[i]))
                CloseHandle(m_p[i]);
        delete[] m_p;
        m_p = nullptr;
        m_n = 0;
    }
    explicit operator bool() const { return m_p != nullptr; }
    HANDLE& operator[](int i) { return m_p[i]; }
    HANDLE operator[](int i) const { return m_p[i]; }
    HANDLE* Data() { return m_p; }

  private:
    HANDLE* m_p = nullptr;
    int m_n = 0;
};

// A critical section that exists for the owner's life.
class CriticalSection {
  public:
    CriticalSection() { InitializeCriticalSection(&m_cs); }
    ~CriticalSection() { DeleteCriticalSection(&m_cs); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    bool TryEnter() { return TryEnterCriticalSection(&m_cs) != FALSE; }
    void Leave() { LeaveCriticalSection(&m_cs); }
    CRITICAL_SECTION& Raw() { return m_cs; }

  private:
    CRITICAL_SECTION m_cs;
};

// Holds a critical section from its construction to the end of its scope.
class CsGuard {
  public:
    enum Adopt { kAdopt }; // the caller has already entered it (TryEnter)

    explicit CsGuard(CRITICAL_SECTION& cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
    explicit CsGuard(CriticalSection& cs) : CsGuard(cs.Raw()) {}
    CsGuard(CriticalSection& cs, Adopt) : m_cs(cs.Raw()) {}
    ~CsGuard() { LeaveCriticalSection(&m_cs); }
    CsGuard(const CsGuard&) = delete;
    CsGuard& operator=(const CsGuard&) = delete;

  private:
    CRITICAL_SECTION& m_cs;
};

// Holds a slim reader/writer lock exclusively from its construction to the end of its scope. Such
// a lock is initialised statically (SRWLOCK_INIT) and needs no deletion.
class SrwGuard {
  public:
    explicit SrwGuard(SRWLOCK& lock) : m_lock(lock) { AcquireSRWLockExclusive(&m_lock); }
    ~SrwGuard() { ReleaseSRWLockExclusive(&m_lock); }
    SrwGuard(const SrwGuard&) = delete;
    SrwGuard& operator=(const SrwGuard&) = delete;

  private:
    SRWLOCK& m_lock;
};
