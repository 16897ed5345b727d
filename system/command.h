#pragma once

#include <string>

// Runs `command` through /bin/sh (cmd.exe on Windows). `output` gets its standard output
// as fgets into a 128-byte buffer reads a text-mode pipe, `errors` (when given) its
// standard error, else shown on the console; "popen failed" when it cannot start. Returns
// 1 when it was stopped, with all it started, after `deadlineSeconds`, 2 when it could not
// start, else 0. On Windows an absolute `programFolder` is its current folder (the DLLs).
int runCommandWithin(const std::string& command, int deadlineSeconds, std::string& output,
                     const std::string& programFolder = "", std::string* errors = nullptr);

// The output of a short command of the system (a registry query), stopped after 20 s.
std::string runCommand(const std::string& command);

// Prepares the environment of the commands run afterwards: a PATH where none is set (each
// shell would take its own default), and on Windows bare names never looked up in the
// current folder first.
void prepareCommandEnvironment();

// Sets `name` in the environment every command run afterwards inherits: 0, or 1 when it
// cannot be changed or the value is too long to hand to a new program.
int setInheritedVariable(const std::string& name, const std::string& value);
// Removes `name` from that environment: 0 (also when it was not set), or 1.
int clearInheritedVariable(const std::string& name);

// The interpreter command lines are handed to, which those who build them quote for. A
// choice at run time, so that both platforms' builders and searches are tested on each.
enum class CommandInterpreter { PosixShell, WindowsCmd };
CommandInterpreter commandInterpreter();
