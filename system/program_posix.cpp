#include "system/program.h"

#include "system/text.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

std::string systemProgramFolder() {
    return "/bin";
}

bool isProgramFile(const std::string& path) {
    struct stat status;
    return !path.empty() && stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

bool isRunnableFile(const std::string& path) {
    return isProgramFile(path) && access(path.c_str(), X_OK) == 0;
}

int folderEntryNames(const std::string& folder, std::vector<std::string>& names) {
    names.clear();
    DIR* const entries = opendir(folder.c_str());
    if (!entries)
        return 1;
    int status = 0;
    for (;;) {
        errno = 0;
        const dirent* const entry = readdir(entries);
        if (!entry) {
            status = errno == 0 ? 0 : 1;
            break;
        }
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(entries);
    if (status != 0)
        names.clear();
    return status;
}

namespace {

// The file `name` names in `folder`; an empty folder is the current one, and a file
// there is named ./name, so that it is never looked up on the search path again.
std::string inFolder(const std::string& folder, const std::string& name) {
    return (folder.empty() ? "." : folder) + "/" + name;
}

} // namespace

std::string programOnSearchPath(const std::string& name) {
    // The folders /bin/sh tries for a name without a slash, in its order: those of PATH,
    // which prepareCommandEnvironment sets for the shell where it is missing.
    const char* path = std::getenv("PATH");
    if (!path)
        return "";
    for (std::string folder : splitFields(path, ':')) {
        // dash reads an entry whose first % is followed by "func" or "builtin" as the
        // folder before the % with an option: %builtin runs no file from it, and a file
        // of the name in a %func folder is read as shell functions, which ends the
        // search with no file found. Any other % is part of the folder's name.
        const size_t percent = folder.find('%');
        if (percent != std::string::npos) {
            const std::string option = folder.substr(percent + 1);
            if (option.compare(0, 7, "builtin") == 0)
                continue;
            if (option.compare(0, 4, "func") == 0) {
                if (isProgramFile(inFolder(folder.substr(0, percent), name)))
                    return "";
                continue;
            }
        }
        if (folder == ".")
            folder.clear();
        const std::string file = inFolder(folder, name);
        // The shell runs the first file it may execute and passes over the rest.
        if (isRunnableFile(file))
            return file;
    }
    return "";
}

std::string typedProgramFile(const std::string& typed) {
    // Quotes and blanks are legal in POSIX file names, so the answer is taken as typed.
    if (!isProgramFile(typed))
        return "";
    // The shell looks a name without a slash up on the search path, not here.
    return typed.find('/') == std::string::npos ? "./" + typed : typed;
}
