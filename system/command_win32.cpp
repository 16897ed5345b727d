#include "system/command.h"

#include <cstdio>
#include <cstdlib>
#include <windows.h>

namespace {

bool isFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A double quote cannot occur in a Windows file name, so a pair around the path is
// only quoting: drop it, and the blanks outside it.
std::string withoutQuotes(const std::string& typed) {
    const size_t first = typed.find_first_not_of(" \t");
    const size_t last = typed.find_last_not_of(" \t");
    if (first == std::string::npos || last - first < 1 || typed[first] != '"' || typed[last] != '"')
        return typed;
    return typed.substr(first + 1, last - first - 1);
}

} // namespace

int runCommandWithin(const std::string& command, int, std::string& output) {
    std::fflush(nullptr);
    std::FILE* pipe = _popen(command.c_str(), "r");
    if (!pipe) {
        output = "popen failed";
        return 0;
    }
    std::string raw;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        raw.append(buffer, n);
    _pclose(pipe);
    output = capturedText(raw, false); // the pipe is in text mode already
    return 0;
}

int setInheritedVariable(const std::string& name, const std::string& value) {
    return _putenv_s(name.c_str(), value.c_str()) == 0 ? 0 : 1;
}

int clearInheritedVariable(const std::string& name) {
    // An empty value removes the variable from the environment.
    return _putenv_s(name.c_str(), "") == 0 ? 0 : 1;
}

std::string typedProgramFile(const std::string& typed) {
    const std::string path = withoutQuotes(typed);
    // cmd.exe expands %NAME% even between quotes, so such a path would not name the
    // file that runs, and %PGPASSWORD% would put the password on a command line.
    if (path.empty() || path.find('%') != std::string::npos)
        return "";
    if (isFile(path))
        return path;
    // What cmd.exe would run for a name typed without its extension.
    if (isFile(path + ".exe"))
        return path + ".exe";
    return "";
}

CommandInterpreter commandInterpreter() {
    return CommandInterpreter::WindowsCmd;
}
