#include "system/command.h"

#include "system/internal.h"
#include "system/program.h"

#include <chrono>
#include <cstdio>
#include <windows.h>

const CommandLanguage kCommandLanguage = CommandLanguage::Cmd;

namespace {

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

// A pipe for one of the command's streams: the read end, here, reads overlapped so that a
// read can be given up at the deadline; the write end is inheritable. False on failure.
bool openStreamPipe(const wchar_t* stream, OwnedHandle& readEnd, OwnedHandle& writeEnd) {
    // Only anonymous pipes come without a name, and they cannot be read overlapped.
    LARGE_INTEGER tick;
    QueryPerformanceCounter(&tick);
    const std::wstring name = L"\\\\.\\pipe\\rolegate-" + std::to_wstring(GetCurrentProcessId()) +
                              L"-" + std::to_wstring(tick.QuadPart) + L"-" + stream;
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

// One stream of the command, read overlapped: a read is kept pending on it until it ends.
struct StreamReader {
    OwnedHandle pipe;
    OwnedHandle event{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    OVERLAPPED overlapped = {};
    char buffer[4096];
    bool pending = false;
    bool ended = true; // until its pipe is open
    std::string* kept = nullptr;
    size_t limit = 0;
    StreamReader() = default;
    StreamReader(const StreamReader&) = delete;
    StreamReader& operator=(const StreamReader&) = delete;
    // A read still pending (an exception on the way out) must end before its buffer and
    // event go.
    ~StreamReader() {
        DWORD got;
        if (pending && CancelIoEx(pipe.handle, &overlapped))
            GetOverlappedResult(pipe.handle, &overlapped, &got, TRUE);
    }
};

void startRead(StreamReader& reader) {
    reader.overlapped = {};
    reader.overlapped.hEvent = reader.event.handle;
    // A read that completes at once sets the event too, and is taken like the others.
    if (ReadFile(reader.pipe.handle, reader.buffer, sizeof reader.buffer, nullptr,
                 &reader.overlapped) ||
        GetLastError() == ERROR_IO_PENDING)
        reader.pending = true;
    else
        reader.ended = true; // the end (a broken pipe), or a read error
}

void takeRead(StreamReader& reader, BOOL wait) {
    DWORD got = 0;
    reader.pending = false;
    if (GetOverlappedResult(reader.pipe.handle, &reader.overlapped, &got, wait))
        keepBytes(*reader.kept, reader.buffer, got, reader.limit);
    else
        reader.ended = true;
}

// Reads both streams until their end or the deadline; false when the deadline came first.
bool readUntil(StreamReader (&readers)[2], CommandClock::time_point deadline) {
    for (;;) {
        HANDLE events[2];
        StreamReader* waiting[2];
        DWORD waits = 0;
        for (StreamReader& reader : readers) {
            if (!reader.ended && !reader.pending)
                startRead(reader);
            if (reader.pending) {
                events[waits] = reader.event.handle;
                waiting[waits++] = &reader;
            }
        }
        if (waits == 0)
            return true;
        const DWORD left = static_cast<DWORD>(millisecondsUntil(deadline));
        const DWORD woken =
            left == 0 ? WAIT_TIMEOUT : WaitForMultipleObjects(waits, events, FALSE, left);
        if (woken >= WAIT_OBJECT_0 + waits) {
            // However much there is still to read; what arrived just before a read was
            // given up is kept.
            for (DWORD i = 0; i < waits; ++i) {
                CancelIoEx(waiting[i]->pipe.handle, &waiting[i]->overlapped);
                takeRead(*waiting[i], TRUE);
            }
            return false;
        }
        takeRead(*waiting[woken - WAIT_OBJECT_0], FALSE);
    }
}

// Whether `folder` starts at a drive's root (C:\...) or a share (\\server\...), so that
// the program's path on the command line still holds once the command starts there.
bool isAbsoluteFolder(const std::string& folder) {
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    if (folder.size() >= 3 && folder[1] == ':' && separator(folder[2]))
        return true;
    return folder.size() >= 2 && separator(folder[0]) && separator(folder[1]);
}

// cmd.exe's full path and the command line that runs `command` through it: /D, no AutoRun;
// /V:OFF, no ! expanded; /S /C, as cmd /c (and _popen) but always taking off the first
// and the last quote, so a command starting with a quoted path stands in one more pair.
bool cmdLine(const std::string& command, std::wstring& cmd, std::wstring& commandLine) {
    std::wstring wideCommand, folder;
    const std::string systemFolder = systemProgramFolder();
    if (systemFolder.empty() || toWide(command, wideCommand) != 0 ||
        toWide(systemFolder, folder) != 0)
        return false;
    cmd = folder + L"\\cmd.exe";
    commandLine = L"cmd.exe /D /V:OFF /S /C " + wideCommand;
    return true;
}

// Starts cmd.exe for `command` in `job`, writing into the pipes' write ends, closed here so
// that a stream ends once the command and all it started are done. False on failure.
bool startCmd(const std::string& command, const std::string& programFolder, HANDLE job,
              OwnedHandle& outputEnd, OwnedHandle& errorsEnd, OwnedHandle& process) {
    std::wstring cmd, commandLine, startIn;
    if (!cmdLine(command, cmd, commandLine) ||
        (isAbsoluteFolder(programFolder) && toWide(programFolder, startIn) != 0))
        return false;
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
    // Suspended until it is in the job, so that nothing it starts escapes the job.
    const BOOL created =
        CreateProcessW(cmd.c_str(), &commandLine[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                       nullptr, startIn.empty() ? nullptr : startIn.c_str(), &startup, &started);
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
    OwnedHandle job, outputEnd, errorsEnd, process;
    StreamReader readers[2];
    readers[0].kept = &streams.output;
    readers[0].limit = kCommandOutputLimit;
    readers[1].kept = &streams.errors;
    readers[1].limit = kCommandErrorsLimit;
    if (!readers[0].event.handle || !readers[1].event.handle || !openJob(job) ||
        !openStreamPipe(L"output", readers[0].pipe, outputEnd) ||
        (streams.collectErrors && !openStreamPipe(L"errors", readers[1].pipe, errorsEnd)))
        return CommandEnd::NotStarted;
    readers[0].ended = false;
    readers[1].ended = !streams.collectErrors;
    if (!startCmd(command, programFolder, job.handle, outputEnd, errorsEnd, process))
        return CommandEnd::NotStarted;

    const bool finished =
        readUntil(readers, deadline) &&
        WaitForSingleObject(process.handle, static_cast<DWORD>(millisecondsUntil(deadline))) ==
            WAIT_OBJECT_0;
    if (!finished) {
        TerminateJobObject(job.handle, 1);
        TerminateProcess(process.handle, 1);
        WaitForSingleObject(process.handle, 1000);
    }
    // Closing the job ends whatever the command left running.
    streams.output = capturedText(streams.output, true);
    streams.errors = capturedText(streams.errors, true);
    return finished ? CommandEnd::Finished : CommandEnd::Stopped;
}

void prepareCommandEnvironment() {
    // cmd.exe and what it starts then look a bare name up on the search path alone, never
    // in the current folder first (psql itself runs by its full path).
    SetEnvironmentVariableW(L"NoDefaultCurrentDirectoryInExePath", L"1");
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
