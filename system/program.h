#pragma once

#include <string>
#include <vector>

// Where the system keeps its own programs, as UTF-8: the Windows system folder (cmd.exe,
// where.exe, reg.exe), or /bin; the Windows search for psql runs them from there.
std::string systemProgramFolder();

// Whether `path` names an existing file, not a directory, that a command line can name as
// it is (on Windows none holding %, which cmd.exe expands even between quotes).
bool isProgramFile(const std::string& path);

// Whether `path` names a program file that may run (on Linux and macOS: be executed here).
bool isRunnableFile(const std::string& path);

// The names of the entries in `folder` but . and .., as UTF-8 (on Windows without those
// that are no text). Returns 0, or 1 when it cannot be read, leaving `names` empty.
int folderEntryNames(const std::string& folder, std::vector<std::string>& names);

// The program file a path typed by the user names, a bare name in the current folder as
// ./name, or "". On Windows quotes around it ("Copy as path") go and ".exe" may be left out.
std::string typedProgramFile(const std::string& typed);

// The file the command interpreter runs for the bare name `name` from the search path, or
// "": the first that may run in PATH's folders, in /bin/sh's order; on Windows the first
// that where.exe lists outside the current folder (which never counts).
std::string programOnSearchPath(const std::string& name);
