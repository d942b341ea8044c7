// Runs cases of the test executable in child processes of their own, a few at a time, each
// under a watchdog: a child that outlives its time is ended and reported as hung.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// How one child ended.
struct ChildResult {
    int index;          // the job's index, as given to the runner
    bool hung;          // ended by the watchdog
    DWORD exitCode;     // the process's exit code (0: its cases passed; 1: a case failed)
    std::string output; // what it wrote to stdout and stderr
};

// Starts jobs 0 .. count - 1 of this executable, at most parallel at once. For each job,
// setEnv(index) sets the environment variables the child inherits, and the child runs with
// args (GoogleTest options). A child that runs longer than timeoutMs is terminated. Returns the
// children that did not exit with code 0, in the order they ended.
std::vector<ChildResult> RunChildren(int count, int parallel, DWORD timeoutMs,
                                     const std::string& args,
                                     const std::function<void(int)>& setEnv);

// The integer value of an environment variable, or -1 when it is not set.
int EnvInt(const char* name);
