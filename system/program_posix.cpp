#include "system/program.h"

#include "system/command.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

std::string systemProgramFolder() {
    return "/bin";
}

bool isProgramFile(const std::string& path) {
    struct stat status;
    return !path.empty() && stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

std::string systemOutputText(const std::string& output) {
    return output;
}

std::string programOnSearchPath(const std::string& name) {
    // The folders /bin/sh tries for a name without a slash, in its order: an empty entry
    // stands for the current folder, as it does for the shell. Without PATH each shell
    // takes a default of its own (dash's and bash's differ), so the system's default
    // search path is set for the commands run afterwards: the shell then looks where
    // this search looked.
    std::string folders;
    if (const char* path = std::getenv("PATH")) {
        folders = path;
    } else {
        const size_t size = confstr(_CS_PATH, nullptr, 0);
        if (size == 0)
            return "";
        folders.resize(size);
        confstr(_CS_PATH, &folders[0], size);
        folders.resize(size - 1);
        if (setInheritedVariable("PATH", folders) != 0)
            return "";
    }
    for (size_t from = 0; from <= folders.size();) {
        size_t end = folders.find(':', from);
        if (end == std::string::npos)
            end = folders.size();
        const std::string folder = folders.substr(from, end - from);
        const std::string file = (folder.empty() ? "." : folder) + "/" + name;
        // The shell runs the first file it may execute and passes over the rest. dash
        // reads what follows a % in an entry as an option (%func, %builtin) and runs
        // no program from it, so such an entry never counts here.
        if (folder.find('%') == std::string::npos && isProgramFile(file) &&
            access(file.c_str(), X_OK) == 0)
            return file;
        from = end + 1;
    }
    return "";
}
