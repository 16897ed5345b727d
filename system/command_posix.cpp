#include "system/command.h"
#include "system/command_pipe.h"

#include <cstdlib>

std::FILE* openCommandPipe(const char* command) {
    return popen(command, "r");
}

void closeCommandPipe(std::FILE* pipe) {
    pclose(pipe);
}

int setInheritedVariable(const char* name, const std::string& value) {
    return setenv(name, value.c_str(), 1) == 0 ? 0 : 1;
}

CommandInterpreter commandInterpreter() {
    return CommandInterpreter::PosixShell;
}
