#pragma once

#include <cstddef>
#include <string>

// Seconds a command may take before it is stopped: libpq's connection bound
// (PGCONNECT_TIMEOUT, 10 s) and time for the query.
inline constexpr int kCommandDeadlineSeconds = 20;
// The most output kept of one command (psql prints a few hundred bytes); what comes
// after it is read and dropped, so that a command that floods its pipe cannot fill
// the memory before its deadline.
inline constexpr size_t kCommandOutputLimit = size_t{16} << 20;

// Runs `command` through the platform's command interpreter (/bin/sh, or cmd.exe on
// Windows) and collects everything it writes to standard output, as a text-mode pipe
// read line by line gives it (capturedText). Standard error is not captured and reaches
// the console directly; the command's exit status is not looked at. A command still
// running after `deadlineSeconds` is stopped together with every process it started,
// and `output` holds what it wrote before. When the command cannot be started the
// output is the text "popen failed". Returns 0 when the command ended by itself (or
// never started), 1 when it was stopped at the deadline.
// `programFolder` is the folder of the program the command runs, or "": on Windows an
// absolute one is the command's current folder, so that the DLLs the program loads by
// name come from beside it and never from the folder the tool was started in. Elsewhere
// programs load no library from the current folder, and it is not used.
int runCommandWithin(const std::string& command, int deadlineSeconds, std::string& output,
                     const std::string& programFolder = "");

// The output of runCommandWithin(command, kCommandDeadlineSeconds, ...).
std::string runCommand(const std::string& command);

// What reading `raw` from a text-mode pipe with fgets into a 128-byte buffer gives:
// pieces of at most 127 bytes, each ending at a line feed at the latest, of which a
// zero byte cuts off the rest; with `crlfAsLf` (Windows' text mode) every CR LF is
// read as a single LF first.
std::string capturedText(const std::string& raw, bool crlfAsLf);

// Appends to `kept` as much of the `size` bytes at `data` as stays within
// kCommandOutputLimit; the rest is dropped.
void keepOutput(std::string& kept, const char* data, size_t size);

// Sets `name` in this process's environment so that every command run afterwards
// inherits it. Returns 0 on success, 1 when the environment could not be changed or
// the value is too long to hand to a new program.
int setInheritedVariable(const std::string& name, const std::string& value);
// Removes `name` from this process's environment, so commands run afterwards do not
// inherit it. Returns 0 on success (also when it was not set), 1 otherwise.
int clearInheritedVariable(const std::string& name);

// The interpreter that runCommand hands command lines to; callers that build command
// lines quote them for it.
enum class CommandInterpreter { PosixShell, WindowsCmd };
CommandInterpreter commandInterpreter();
