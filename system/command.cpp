#include "system/command.h"

#include "system/command_pipe.h"

#include <cstdio>
#include <memory>

namespace {

struct PipeCloser {
    void operator()(std::FILE* pipe) const {
        closeCommandPipe(pipe);
    }
};

} // namespace

std::string runCommand(const std::string& command) {
    std::fflush(nullptr); // what we printed must reach the console before what the command prints
    std::unique_ptr<std::FILE, PipeCloser> pipe(openCommandPipe(command.c_str()));
    if (!pipe)
        return "popen failed";

    // 127 characters at most per read. A read cut short by a zero byte keeps only the
    // text before it; a read error ends the capture with what arrived before it.
    std::string result;
    char buffer[128];
    while (!std::feof(pipe.get())) {
        if (std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr)
            result.append(buffer);
        else if (std::ferror(pipe.get()))
            break;
    }
    return result;
}
