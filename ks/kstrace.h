// Entry and exit lines of the KS layer's methods, at trace level 6.
// A method traces "<Class>::<Method>() Enter" on entry and, on every way out, either
// "<Class>::<Method> Leave, returning <status>" or "<Class>::<Method>() Leave".
#pragma once

#include "diag/util.h"

const int kTraceCalls = 6; // level of the entry and exit lines

// pszName is the qualified name followed by "()".
inline void KsTraceEnter(const char* pszName) {
    DebugTrace(kTraceCalls, "%s Enter", pszName);
}

// Exit with a status: pszName is the qualified name without "()". Returns hr for convenience.
inline HRESULT KsTraceLeave(const char* pszName, HRESULT hr) {
    DebugTrace(kTraceCalls, "%s Leave, returning %#08x", pszName, (unsigned)hr);
    return hr;
}

// Exit without a status: pszName is the qualified name followed by "()".
inline void KsTraceLeave(const char* pszName) {
    DebugTrace(kTraceCalls, "%s Leave", pszName);
}
