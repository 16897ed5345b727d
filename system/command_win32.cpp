#include "system/command.h"

#include "system/program.h"
#include "system/wide_win32.h"

#include <chrono>
#include <cstdio>
#include <windows.h>

namespace {

using Clock = std::chrono::steady_clock;

// The most characters an environment variable's value holds on Windows, its
// terminating zero included.
constexpr size_t kMostVariableCharacters = 32767;

// Closes the handle it holds, if any, when it goes out of scope.
struct OwnedHandle {
    HANDLE handle = nullptr;
    OwnedHandle() = default;
    explicit OwnedHandle(HANDLE h) : handle(h) {}
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle() {
        if (handle)
            CloseHandle(handle);
    }
};

DWORD millisecondsUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

// A pipe for the command's standard output: the read end stays here and reads
// overlapped, so that a read can be given up at the deadline; the write end, for the
// command, is inheritable. False when it cannot be made.
bool openOutputPipe(OwnedHandle& readEnd, OwnedHandle& writeEnd) {
    // Only anonymous pipes come without a name, and they cannot be read overlapped.
    LARGE_INTEGER tick;
    QueryPerformanceCounter(&tick);
    const std::wstring name = L"\\\\.\\pipe\\rolegate-" + std::to_wstring(GetCurrentProcessId()) +
                              L"-" + std::to_wstring(tick.QuadPart);
    // The first instance, or none: no other process may have made this pipe before us.
    const HANDLE reading = CreateNamedPipeW(
        name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 65536,
        0, nullptr);
    if (reading == INVALID_HANDLE_VALUE)
        return false;
    readEnd.handle = reading;
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    const HANDLE writing = CreateFileW(name.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0,
                                       &inheritable, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (writing == INVALID_HANDLE_VALUE)
        return false;
    writeEnd.handle = writing;
    return true;
}

// A job object that ends every process in it once its last handle is closed.
bool openJob(OwnedHandle& job) {
    job.handle = CreateJobObjectW(nullptr, nullptr);
    if (!job.handle)
        return false;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    return SetInformationJobObject(job.handle, JobObjectExtendedLimitInformation, &limits,
                                   sizeof limits) != 0;
}

// Reads `pipe` until its end or the deadline; false when the deadline came first.
bool readUntil(HANDLE pipe, HANDLE event, Clock::time_point deadline, std::string& raw) {
    char buffer[4096];
    for (;;) {
        if (millisecondsUntil(deadline) == 0)
            return false; // however much there is still to read
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event;
        if (!ReadFile(pipe, buffer, sizeof buffer, nullptr, &overlapped) &&
            GetLastError() != ERROR_IO_PENDING)
            return true; // the end (a broken pipe), or a read error: what arrived is the output
        DWORD got = 0;
        if (WaitForSingleObject(event, millisecondsUntil(deadline)) != WAIT_OBJECT_0) {
            CancelIoEx(pipe, &overlapped);
            // What arrived just before the read was given up is kept.
            if (GetOverlappedResult(pipe, &overlapped, &got, TRUE))
                keepOutput(raw, buffer, got);
            return false;
        }
        if (!GetOverlappedResult(pipe, &overlapped, &got, FALSE))
            return true;
        keepOutput(raw, buffer, got);
    }
}

// Whether `folder` names a folder from a drive's root (C:\...) or a share (\\server\...),
// so that the command line's path to the program still holds once the command starts
// there.
bool isAbsoluteFolder(const std::string& folder) {
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    if (folder.size() >= 3 && folder[1] == ':' && separator(folder[2]))
        return true;
    return folder.size() >= 2 && separator(folder[0]) && separator(folder[1]);
}

// Runs the command as runCommandWithin says: 0 when it ended by itself, 1 when it was
// stopped at the deadline, -1 when it could not be started.
int runCmd(const std::string& command, const std::string& programFolder, Clock::time_point deadline,
           std::string& raw) {
    std::wstring wideCommand, folder, startIn;
    const std::string systemFolder = systemProgramFolder();
    if (systemFolder.empty() || toWide(command, wideCommand) != 0 ||
        toWide(systemFolder, folder) != 0 ||
        (isAbsoluteFolder(programFolder) && toWide(programFolder, startIn) != 0))
        return -1;
    // cmd.exe by its full path, never one found in the current folder. /D: no AutoRun
    // command from the registry runs first. /V:OFF: no ! is expanded, whatever the
    // registry's DelayedExpansion says. /S /C: the command line is taken as for
    // cmd /c (and _popen), except that a first quote, and the last, are always taken off,
    // so a command that starts with a quoted program path stands in one more pair.
    const std::wstring cmd = folder + L"\\cmd.exe";
    std::wstring commandLine = L"cmd.exe /D /V:OFF /S /C " + wideCommand;

    OwnedHandle job, readEnd, writeEnd, event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event.handle || !openJob(job) || !openOutputPipe(readEnd, writeEnd))
        return -1;
    // cmd.exe, and every program it starts, then looks a bare program name up on the
    // search path alone, never in the current folder first.
    SetEnvironmentVariableW(L"NoDefaultCurrentDirectoryInExePath", L"1");

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd.handle;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    // Suspended until it is in the job, so that nothing it starts escapes the job.
    const BOOL started =
        CreateProcessW(cmd.c_str(), &commandLine[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                       nullptr, startIn.empty() ? nullptr : startIn.c_str(), &startup, &process);
    // The command holds the only write end now: the read ends when it and everything it
    // started are done.
    CloseHandle(writeEnd.handle);
    writeEnd.handle = nullptr;
    if (!started)
        return -1;
    OwnedHandle processHandle(process.hProcess), thread(process.hThread);
    // Where the job cannot take it (on Windows 7 when this process is in a job already),
    // the deadline still stops cmd.exe, though not what it started.
    AssignProcessToJobObject(job.handle, process.hProcess);
    ResumeThread(process.hThread);

    const bool finished =
        readUntil(readEnd.handle, event.handle, deadline, raw) &&
        WaitForSingleObject(process.hProcess, millisecondsUntil(deadline)) == WAIT_OBJECT_0;
    if (!finished) {
        TerminateJobObject(job.handle, 1);
        TerminateProcess(process.hProcess, 1);
    }
    // Closing the job ends whatever the command left running.
    return finished ? 0 : 1;
}

} // namespace

int runCommandWithin(const std::string& command, int deadlineSeconds, std::string& output,
                     const std::string& programFolder) {
    // What we printed must reach the console before what the command prints.
    std::fflush(nullptr);
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(deadlineSeconds);
    std::string raw;
    const int status = runCmd(command, programFolder, deadline, raw);
    if (status < 0) {
        output = "popen failed";
        return 0;
    }
    output = capturedText(raw, true);
    return status;
}

int setInheritedVariable(const std::string& name, const std::string& value) {
    // Wide, so that every program started sees the value in its own code page, as it
    // sees its command line; a value too long for the environment is not cut short.
    std::wstring wideName, wideValue;
    if (toWide(name, wideName) != 0 || toWide(value, wideValue) != 0 ||
        wideValue.size() >= kMostVariableCharacters)
        return 1;
    return SetEnvironmentVariableW(wideName.c_str(), wideValue.c_str()) ? 0 : 1;
}

int clearInheritedVariable(const std::string& name) {
    std::wstring wideName;
    if (toWide(name, wideName) != 0)
        return 1;
    return SetEnvironmentVariableW(wideName.c_str(), nullptr) ||
                   GetLastError() == ERROR_ENVVAR_NOT_FOUND
               ? 0
               : 1;
}

CommandInterpreter commandInterpreter() {
    return CommandInterpreter::WindowsCmd;
}
