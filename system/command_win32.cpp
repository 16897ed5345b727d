#include "system/command.h"

#include "system/capture.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

struct PipeCloser {
    void operator()(std::FILE* pipe) const {
        _pclose(pipe);
    }
};

} // namespace

std::string runCommand(const std::string& command) {
    std::fflush(nullptr); // what we printed must reach the console before what the command prints
    std::unique_ptr<std::FILE, PipeCloser> pipe(_popen(command.c_str(), "r"));
    if (!pipe)
        return "popen failed";
    return captureOutput(pipe.get());
}

int setInheritedVariable(const char* name, const std::string& value) {
    return _putenv_s(name, value.c_str()) == 0 ? 0 : 1;
}

CommandInterpreter commandInterpreter() {
    return CommandInterpreter::WindowsCmd;
}
