#include "system/command.h"
#include "system/command_pipe.h"

#include <cstdlib>

std::FILE* openCommandPipe(const char* command) {
    return _popen(command, "r");
}

void closeCommandPipe(std::FILE* pipe) {
    _pclose(pipe);
}

int setInheritedVariable(const char* name, const std::string& value) {
    return _putenv_s(name, value.c_str()) == 0 ? 0 : 1;
}

CommandInterpreter commandInterpreter() {
    return CommandInterpreter::WindowsCmd;
}
