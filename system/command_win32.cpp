#include "system/command.h"

#include "system/internal.h"
#include "system/program.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <vector>
#include <windows.h>

const CommandLanguage kCommandLanguage = CommandLanguage::Cmd;

namespace {

// The variables set for the commands, each "NAME=value", kept out of this process's own
// environment so that a value such as the password is held once.
std::vector<std::wstring> gVariables;

// Whether the entries `entry` and `variable`, each "NAME=...", set the same variable
// (Windows compares names without case).
bool sameVariable(const wchar_t* entry, const std::wstring& variable) {
    const wchar_t* const equals = wcschr(entry + 1, L'=');
    return equals &&
           _wcsnicmp(entry, variable.c_str(), static_cast<size_t>(equals - entry) + 1) == 0;
}

// Removes and wipes the variable `name` from gVariables.
void forget(const std::wstring& name) {
    const auto at = std::find_if(gVariables.begin(), gVariables.end(), [&](const std::wstring& v) {
        return sameVariable(v.c_str(), name + L"=");
    });
    if (at != gVariables.end()) {
        wipeSecret(*at);
        gVariables.erase(at);
    }
}

// An environment block: this process's variables, with gVariables in place of any of
// the same names.
std::wstring environmentBlock() {
    wchar_t* const own = GetEnvironmentStringsW();
    // Its whole size at once: a block that grew would leave copies of the password behind.
    size_t size = 1;
    for (const wchar_t* entry = own; entry && *entry; entry += wcslen(entry) + 1)
        size += wcslen(entry) + 1;
    for (const std::wstring& variable : gVariables)
        size += variable.size() + 1;
    std::wstring block;
    block.reserve(size);
    for (const wchar_t* entry = own; entry && *entry; entry += wcslen(entry) + 1)
        if (std::none_of(gVariables.begin(), gVariables.end(),
                         [&](const std::wstring& v) { return sameVariable(entry, v); }))
            block.append(entry).push_back(L'\0');
    if (own)
        FreeEnvironmentStringsW(own);
    for (const std::wstring& variable : gVariables)
        block.append(variable).push_back(L'\0');
    block.push_back(L'\0');
    return block;
}

// The most characters a variable's value holds on Windows, its ending zero included.
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

// A pipe for one of the command's streams: this end reads, the other is inherited.
bool openStreamPipe(OwnedHandle& readEnd, OwnedHandle& writeEnd) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    if (!CreatePipe(&readEnd.handle, &writeEnd.handle, &inheritable, 65536))
        return false;
    return SetHandleInformation(readEnd.handle, HANDLE_FLAG_INHERIT, 0) != 0;
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

// Reads what `pipe` holds without waiting (`got` set when anything came); false once it
// has ended or failed.
bool drain(HANDLE pipe, std::string& kept, size_t limit, bool& got) {
    for (;;) {
        DWORD waiting = 0, read = 0;
        char buffer[4096];
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr))
            return false;
        if (waiting == 0)
            return true;
        if (!ReadFile(pipe, buffer, waiting < sizeof buffer ? waiting : sizeof buffer, &read,
                      nullptr))
            return false;
        keepBytes(kept, buffer, read, limit);
        got = true;
    }
}

// Reads both streams until they end or the deadline passes (then false). A read never
// waits, so no process that escaped the job can hold it.
bool readUntil(const OwnedHandle (&pipes)[2], CommandClock::time_point deadline,
               CommandStreams& streams) {
    bool open[2] = {pipes[0].handle != nullptr, pipes[1].handle != nullptr};
    std::string* const kept[2] = {&streams.output, &streams.errors};
    const size_t limits[2] = {kCommandOutputLimit, kCommandErrorsLimit};
    for (DWORD pause = 1;;) {
        bool got = false;
        for (int i = 0; i < 2; ++i)
            open[i] = open[i] && drain(pipes[i].handle, *kept[i], limits[i], got);
        if (!open[0] && !open[1])
            return true;
        const DWORD left = static_cast<DWORD>(millisecondsUntil(deadline));
        if (left == 0)
            return false;
        // Soon again while the command writes, less and less often while it is quiet.
        pause = got ? 1 : (pause < 32 ? pause * 2 : pause);
        Sleep(pause < left ? pause : left);
    }
}

// Whether `folder` starts at a drive's root (C:\...) or a share (\\server\...): a
// relative path to the program would not hold once the command starts there.
bool isAbsoluteFolder(const std::string& folder) {
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    if (folder.size() >= 3 && folder[1] == ':' && separator(folder[2]))
        return true;
    return folder.size() >= 2 && separator(folder[0]) && separator(folder[1]);
}

// Starts cmd.exe for `command` in `job`, writing into the pipes' write ends, closed here so
// that a stream ends once the command and all it started are done. False on failure.
bool startCmd(const std::string& command, const std::string& programFolder, HANDLE job,
              OwnedHandle& outputEnd, OwnedHandle& errorsEnd, OwnedHandle& process) {
    // /D: no AutoRun; /V:OFF: no ! expanded; /S /C: as cmd /c (and _popen), but always
    // taking off the first and last quote, so a quoted path stands in one more pair.
    std::wstring folder, commandLine, startIn;
    const std::string systemFolder = systemProgramFolder();
    if (systemFolder.empty() || toWide(systemFolder, folder) != 0 ||
        toWide(command, commandLine) != 0 ||
        (isAbsoluteFolder(programFolder) && toWide(programFolder, startIn) != 0))
        return false;
    const std::wstring cmd = folder + L"\\cmd.exe";
    commandLine = L"cmd.exe /D /V:OFF /S /C " + commandLine;
    // No input, never the console: nothing the command runs can ask for anything there.
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    const HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inheritable, OPEN_EXISTING, 0, nullptr);
    if (nul == INVALID_HANDLE_VALUE)
        return false;
    const OwnedHandle nothing(nul);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nothing.handle;
    startup.hStdOutput = outputEnd.handle;
    startup.hStdError = errorsEnd.handle ? errorsEnd.handle : GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started = {};
    std::wstring environment = environmentBlock();
    // Suspended until it is in the job, so that nothing it starts escapes the job.
    const BOOL created =
        CreateProcessW(cmd.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                       CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, &environment[0],
                       startIn.empty() ? nullptr : startIn.c_str(), &startup, &started);
    wipeSecret(environment);
    for (OwnedHandle* end : {&outputEnd, &errorsEnd}) {
        if (end->handle)
            CloseHandle(end->handle);
        end->handle = nullptr;
    }
    if (!created)
        return false;
    process.handle = started.hProcess;
    // Where the job cannot take it (on Windows 7 when this process is in a job already),
    // the deadline still stops cmd.exe, though not what it started.
    AssignProcessToJobObject(job, started.hProcess);
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    return true;
}

} // namespace

CommandEnd runOnThisPlatform(const std::string& command, const std::string& programFolder,
                             CommandClock::time_point deadline, CommandStreams& streams) {
    OwnedHandle job, pipes[2], outputEnd, errorsEnd, process;
    streams.crlfLineEnds = true;
    if (!openJob(job) || !openStreamPipe(pipes[0], outputEnd) ||
        (streams.collectErrors && !openStreamPipe(pipes[1], errorsEnd)) ||
        !startCmd(command, programFolder, job.handle, outputEnd, errorsEnd, process))
        return CommandEnd::NotStarted;
    const bool finished =
        readUntil(pipes, deadline, streams) &&
        WaitForSingleObject(process.handle, static_cast<DWORD>(millisecondsUntil(deadline))) ==
            WAIT_OBJECT_0;
    if (!finished) {
        TerminateJobObject(job.handle, 1);
        TerminateProcess(process.handle, 1);
        WaitForSingleObject(process.handle, 1000);
    }
    // Closing the job ends whatever the command left running.
    return finished ? CommandEnd::Finished : CommandEnd::Stopped;
}

void prepareCommandEnvironment() {
    // cmd.exe and what it starts look a bare name up on the search path, never in the
    // current folder first.
    SetEnvironmentVariableW(L"NoDefaultCurrentDirectoryInExePath", L"1");
}

int setInheritedVariable(const std::string& name, const std::string& value) {
    // Wide, so that every program sees the value in its own code page; a value too long
    // for the environment is refused, not cut short.
    std::wstring wideName, wideValue;
    const bool fits = toWide(name, wideName) == 0 && toWide(value, wideValue) == 0 &&
                      wideValue.size() < kMostVariableCharacters;
    if (fits) {
        forget(wideName);
        std::wstring entry; // built in place: a temporary would leave a copy behind
        entry.reserve(wideName.size() + wideValue.size() + 8);
        entry.append(wideName).append(L"=").append(wideValue);
        gVariables.push_back(std::move(entry));
    }
    wipeSecret(wideValue);
    return fits ? 0 : 1;
}

int clearInheritedVariable(const std::string& name) {
    std::wstring wideName;
    if (toWide(name, wideName) != 0)
        return 1;
    forget(wideName);
    return SetEnvironmentVariableW(wideName.c_str(), nullptr) ||
                   GetLastError() == ERROR_ENVVAR_NOT_FOUND
               ? 0
               : 1;
}
