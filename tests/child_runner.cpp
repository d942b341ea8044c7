// Child processes of the test executable, run under a watchdog with their output captured.
#include "tests/child_runner.h"

#include "tools/common/hostenv.h"

#include <cstdlib>

namespace {

struct Child {
    int index = -1;
    HANDLE process = NULL;
    HANDLE output = INVALID_HANDLE_VALUE; // file the child writes to; read back at its end
    std::string outputPath;
    DWORD started = 0;
};

std::string ReadAll(HANDLE file) {
    std::string text;
    SetFilePointer(file, 0, NULL, FILE_BEGIN);
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(file, buffer, sizeof buffer, &n, NULL) && n > 0)
        text.append(buffer, n);
    return text;
}

bool Start(Child& c, int index, const std::string& args) {
    char exe[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(NULL, exe, MAX_PATH);
    exe[n < MAX_PATH ? n : MAX_PATH] = '\0';
    c.index = index;
    c.outputPath = hostenv::ExeFolder() + "\\child_" + std::to_string(GetCurrentProcessId()) + "_" +
                   std::to_string(index) + ".txt";
    // Only this child may inherit the file: a sibling started later must not hold it open. The
    // file goes when the last handle to it closes, whoever closes it.
    c.output =
        CreateFileA(c.outputPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, NULL);
    if (c.output == INVALID_HANDLE_VALUE)
        return false;
    SetHandleInformation(c.output, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = NULL;
    si.hStdOutput = c.output;
    si.hStdError = c.output;
    PROCESS_INFORMATION pi = {};
    std::string command = std::string("\"") + exe + "\" " + args;
    BOOL started = CreateProcessA(exe, &command[0], NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi);
    SetHandleInformation(c.output, HANDLE_FLAG_INHERIT, 0);
    if (!started) {
        DWORD error = GetLastError();
        CloseHandle(c.output);
        c = Child();
        SetLastError(error);
        return false;
    }
    CloseHandle(pi.hThread);
    c.process = pi.hProcess;
    c.started = GetTickCount();
    return true;
}

ChildResult Finish(Child& c, bool hung) {
    ChildResult r{c.index, hung, 0, std::string()};
    if (hung) {
        TerminateProcess(c.process, 0xDEAD);
        WaitForSingleObject(c.process, INFINITE);
    }
    GetExitCodeProcess(c.process, &r.exitCode);
    r.output = ReadAll(c.output);
    CloseHandle(c.process);
    CloseHandle(c.output);
    c = Child();
    return r;
}

} // namespace

std::vector<ChildResult> RunChildren(int count, int parallel, DWORD timeoutMs,
                                     const std::string& args,
                                     const std::function<void(int)>& setEnv) {
    std::vector<ChildResult> failed;
    std::vector<Child> running(parallel);
    int next = 0;
    for (;;) {
        for (Child& c : running) {
            if (c.process || next >= count)
                continue;
            setEnv(next);
            if (!Start(c, next, args))
                failed.push_back(ChildResult{next, false, GetLastError(), "could not start"});
            next++;
        }
        std::vector<HANDLE> waits;
        for (Child& c : running)
            if (c.process)
                waits.push_back(c.process);
        if (waits.empty())
            return failed;
        WaitForMultipleObjects((DWORD)waits.size(), waits.data(), FALSE, 100);
        for (Child& c : running) {
            if (!c.process)
                continue;
            bool ended = WaitForSingleObject(c.process, 0) == WAIT_OBJECT_0;
            bool hung = !ended && GetTickCount() - c.started > timeoutMs;
            if (!ended && !hung)
                continue;
            ChildResult r = Finish(c, hung);
            if (r.hung || r.exitCode != 0)
                failed.push_back(r);
        }
    }
}

int EnvInt(const char* name) {
    const char* value = getenv(name);
    return value ? atoi(value) : -1;
}
