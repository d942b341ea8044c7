// Helpers every test program shares: the call watchdog and the byte comparisons' reports.
#include "tests/bytes_match.h"
#include "tests/waits.h"

#include <algorithm>
#include <cstdio>

namespace {

DWORD WINAPI RunCall(LPVOID param) {
    (*static_cast<std::function<void()>*>(param))();
    return 0;
}

} // namespace

void MustReturn(const char* what, std::function<void()> call) {
    HANDLE thread = CreateThread(NULL, 0, RunCall, &call, 0, NULL);
    ASSERT_NE(nullptr, thread);
    if (WaitForSingleObject(thread, kCallHangMs) != WAIT_OBJECT_0) {
        ADD_FAILURE() << what << " did not return within " << kCallHangMs << " ms";
        fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    CloseHandle(thread);
}

size_t FirstDifference(const char* a, const char* b, size_t length) {
    size_t i = 0;
    while (i < length && a[i] == b[i])
        i++;
    return i;
}

std::string HexAt(const char* data, size_t size, size_t at) {
    std::string text;
    char byte[4];
    for (size_t i = at; i < size && i < at + 8; i++) {
        snprintf(byte, sizeof byte, "%02x ", (unsigned char)data[i]);
        text += byte;
    }
    return text.empty() ? "(nothing)" : text.substr(0, text.size() - 1);
}

::testing::AssertionResult HoldsAt(const std::vector<char>& got, size_t at,
                                   const std::vector<char>& want) {
    size_t room = got.size() > at ? got.size() - at : 0;
    size_t common = room < want.size() ? room : want.size();
    size_t i = FirstDifference(got.data() + at, want.data(), common);
    if (i == want.size())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "got " << got.size() << " bytes, want " << want.size() << " from byte " << at
           << "; first difference at byte " << at + i << ": got "
           << HexAt(got.data(), got.size(), at + i) << ", want "
           << HexAt(want.data(), want.size(), i);
}

::testing::AssertionResult SameBytes(const std::vector<char>& got, const std::vector<char>& want) {
    ::testing::AssertionResult held = HoldsAt(got, 0, want);
    if (!held || got.size() == want.size())
        return held;
    return ::testing::AssertionFailure()
           << "got " << got.size() << " bytes, want " << want.size() << "; the same up to byte "
           << want.size() << ", where got goes on with "
           << HexAt(got.data(), got.size(), want.size());
}
