#include "system/command.h"
#include "system/command_pipe.h"

#include <cstdlib>
#include <sys/stat.h>

std::FILE* openCommandPipe(const char* command) {
    return popen(command, "r");
}

void closeCommandPipe(std::FILE* pipe) {
    pclose(pipe);
}

int setInheritedVariable(const std::string& name, const std::string& value) {
    return setenv(name.c_str(), value.c_str(), 1) == 0 ? 0 : 1;
}

int clearInheritedVariable(const std::string& name) {
    return unsetenv(name.c_str()) == 0 ? 0 : 1;
}

std::string typedProgramFile(const std::string& typed) {
    // Quotes and blanks are legal in POSIX file names, so the answer is taken as typed.
    struct stat status;
    if (typed.empty() || stat(typed.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return "";
    // The shell looks a name without a slash up on the search path, not here.
    return typed.find('/') == std::string::npos ? "./" + typed : typed;
}

CommandInterpreter commandInterpreter() {
    return CommandInterpreter::PosixShell;
}
