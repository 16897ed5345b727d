#pragma once

#include <string>
#include <vector>

// Where the operating system keeps its own programs, as UTF-8: the Windows system
// folder (C:\Windows\System32, which holds cmd.exe, where.exe and reg.exe), or /bin.
std::string systemProgramFolder();

// Whether `path` names an existing file, not a directory, that a command line for the
// platform's command interpreter can name as it is: on Windows a path holding %, which
// cmd.exe expands even between quotes, names none.
bool isProgramFile(const std::string& path);

// Whether `path` names a program file (isProgramFile) that the command interpreter may
// run: on Linux and macOS one that this process may execute, on Windows any one.
bool isRunnableFile(const std::string& path);

// The names of the entries in `folder`, as UTF-8, in no particular order, without . and
// ..; on Windows a name that is no text is left out. Returns 0, or 1 when the folder
// cannot be read, leaving `names` empty.
int folderEntryNames(const std::string& folder, std::vector<std::string>& names);

// The program file that a path typed by the user names, or "" when it names none
// (an empty answer, a directory, nothing there). On Windows one pair of double quotes
// around the path, as Explorer's "Copy as path" writes it, and blanks outside them are
// dropped first, a path without its ".exe" also finds the file with it, and a path
// holding % names none. A bare name found in the current folder is given as ./name.
std::string typedProgramFile(const std::string& typed);

// The file that the command interpreter runs for the bare program name `name`, found
// in a folder of the search path, or "" when there is none there. On Windows it is the
// first file that where.exe, run from the system folder, lists outside the current
// folder (which cmd.exe would try first, and which never counts); elsewhere the first
// file that may be run in the folders of PATH (none without it), tried in the order
// /bin/sh tries them.
std::string programOnSearchPath(const std::string& name);
