#pragma once

#include <string>
#include <vector>

// The folder of the system's own programs, as UTF-8: the Windows system folder (cmd.exe,
// where.exe, reg.exe are run from there), or /bin.
std::string systemProgramFolder();

// Whether `path` names an existing file, not a folder, that a command line can name as it
// is (on Windows none holding %, which cmd.exe expands even between quotes).
bool isProgramFile(const std::string& path);

// Whether `path` names a program file that may run (on Linux and macOS: be executed here).
bool isRunnableFile(const std::string& path);

// The names of the entries in `folder` but . and .., as UTF-8 (on Windows without those
// that are no text): 0, or 1 leaving `names` empty when it cannot be read.
int folderEntryNames(const std::string& folder, std::vector<std::string>& names);

// The program file a path typed by the user names (a bare name in the current folder as
// ./name), or "". On Windows quotes around it may go and ".exe" may be left out.
std::string typedProgramFile(const std::string& typed);

// The file the command interpreter runs for the bare `name` from the search path, or "":
// the first that may run in PATH's folders, in /bin/sh's order; on Windows the first that
// where.exe lists outside the current folder (which never counts).
std::string programOnSearchPath(const std::string& name);
