#pragma once

#include <string>

// Runs `command` through the platform's command interpreter (/bin/sh, or cmd.exe on
// Windows) and returns everything it wrote to standard output. Standard error is not
// captured and reaches the console directly. The command's exit status is not looked
// at. When the pipe cannot be opened the result is the text "popen failed".
std::string runCommand(const std::string& command);

// Sets `name` in this process's environment so that every command run afterwards
// inherits it. Returns 0 on success, 1 when the environment could not be changed.
int setInheritedVariable(const std::string& name, const std::string& value);
// Removes `name` from this process's environment, so commands run afterwards do not
// inherit it. Returns 0 on success (also when it was not set), 1 otherwise.
int clearInheritedVariable(const std::string& name);

// The program file that a path typed by the user names, or "" when it names none
// (an empty answer, a directory, nothing there). On Windows one pair of double quotes
// around the path, as Explorer's "Copy as path" writes it, and blanks outside them are
// dropped first, a path without its ".exe" also finds the file with it, and a path
// holding % names none. A bare name found in the current folder is given as ./name.
std::string typedProgramFile(const std::string& typed);

// The interpreter that runCommand hands command lines to; callers that build command
// lines quote them for it.
enum class CommandInterpreter { PosixShell, WindowsCmd };
CommandInterpreter commandInterpreter();
