#pragma once

#include <string>

// Where the operating system keeps its own programs, as UTF-8: the Windows system
// folder (C:\Windows\System32, which holds cmd.exe, where.exe and reg.exe), or /bin.
std::string systemProgramFolder();

// Whether `path` names an existing file, not a directory, that a command line for the
// platform's command interpreter can name as it is: on Windows a path holding %, which
// cmd.exe expands even between quotes, names none.
bool isProgramFile(const std::string& path);

// Text that a program of the system (where.exe, cmd.exe's echo) wrote into a pipe, as
// UTF-8: on Windows it comes in the console's output code page (the OEM code page when
// there is no console), and is kept as it is when it is no text there; elsewhere it
// is taken as it is.
std::string systemOutputText(const std::string& output);

// Whether the file `path` names is known to lie in another folder than the current one;
// false when it lies in the current folder or when that cannot be told.
bool liesOutsideCurrentFolder(const std::string& path);
