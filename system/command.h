#pragma once

#include <cstddef>
#include <string>

// The most output kept of one command (psql prints a few hundred bytes); what comes
// after it is read and dropped, so that a command that floods its pipe cannot fill
// the memory before its deadline.
inline constexpr size_t kCommandOutputLimit = size_t{16} << 20;
// The most kept of what a command writes to standard error (psql's messages are a
// line or two), the rest read and dropped likewise.
inline constexpr size_t kCommandErrorsLimit = size_t{64} << 10;

// Runs `command` through the platform's command interpreter (/bin/sh, or cmd.exe on
// Windows) and collects everything it writes to standard output, as a text-mode pipe
// read line by line gives it (an fgets into a 128-byte buffer: a zero byte cuts off the
// rest of its piece, and on Windows every CR LF is read as LF). With `errors`, what it
// writes to standard error is collected there the same way; without, it reaches the
// console directly. The command's exit status is not looked at. A command still
// running after `deadlineSeconds` is stopped together with every process it started,
// and `output` holds what it wrote before. When the command cannot be started the
// output is the text "popen failed". Returns 0 when the command ended by itself, 1 when
// it was stopped at the deadline, 2 when it could not be started.
// `programFolder` is the folder of the program the command runs, or "": on Windows an
// absolute one is the command's current folder, so that the DLLs the program loads by
// name come from beside it and never from the folder the tool was started in. Elsewhere
// programs load no library from the current folder, and it is not used.
int runCommandWithin(const std::string& command, int deadlineSeconds, std::string& output,
                     const std::string& programFolder = "", std::string* errors = nullptr);

// The output of a short command of the system (a registry query), stopped after 20
// seconds.
std::string runCommand(const std::string& command);

// Makes this process's environment what the commands run afterwards need: on Linux and
// macOS a PATH (the system's default search path where none is set, since each shell
// would otherwise take a default of its own), on Windows a bare program name looked up
// on the search path alone, never in the current folder first. Where the environment
// cannot be changed, it stays as it is.
void prepareCommandEnvironment();

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
