#pragma once

#include <string>

// Runs `command` through the platform's command interpreter (/bin/sh, or cmd.exe on
// Windows) and returns everything it wrote to standard output. Standard error is not
// captured and reaches the console directly. The command's exit status is not looked
// at. When the pipe cannot be opened the result is the text "popen failed".
std::string runCommand(const std::string& command);

// Sets `name` in this process's environment so that every command run afterwards
// inherits it. Returns 0 on success, 1 when the environment could not be changed.
int setInheritedVariable(const char* name, const std::string& value);

// The interpreter that runCommand hands command lines to; callers that build command
// lines quote them for it.
enum class CommandInterpreter { PosixShell, WindowsCmd };
CommandInterpreter commandInterpreter();
