#pragma once

#include <string>

// How a command ended: it finished, it was stopped at its deadline with all it started,
// or it could not be started.
enum class CommandEnd { Finished, Stopped, NotStarted };

// The language command lines are written in: that of /bin/sh, or of cmd.exe on Windows.
enum class CommandLanguage { Sh, Cmd };
extern const CommandLanguage kCommandLanguage;

// Runs `command` through the command interpreter until it ends or `deadlineSeconds` pass.
// `output` gets its standard output as fgets into a 128-byte buffer reads a text-mode
// pipe, or "popen failed" when it cannot start; `errors` (when given) its standard error,
// else shown on the console. On Windows an absolute `programFolder` is its current folder.
CommandEnd runCommandWithin(const std::string& command, int deadlineSeconds, std::string& output,
                            const std::string& programFolder = "", std::string* errors = nullptr);

// The output of a short command of the system (a registry query), stopped after 20 s.
std::string runCommand(const std::string& command);

// Prepares the environment of the commands run afterwards: a PATH where none is set, and
// on Windows no bare name looked up in the current folder first.
void prepareCommandEnvironment();

// Sets or removes `name` in the environment of every command run afterwards: 0, or 1 when
// it cannot be changed or the value is too long to hand to a new program.
int setInheritedVariable(const std::string& name, const std::string& value);
int clearInheritedVariable(const std::string& name);
