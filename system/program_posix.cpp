#include "system/program.h"

#include "system/text.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
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
    // readdir tells its end from a failure by errno alone.
    errno = 0;
    for (const dirent* entry; (entry = readdir(entries)) != nullptr; errno = 0)
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.push_back(entry->d_name);
    const int status = errno == 0 ? 0 : 1;
    closedir(entries);
    if (status != 0)
        names.clear();
    return status;
}

namespace {

// The file `name` in `folder`, an empty one being the current folder: ./name there, so
// that it is never looked up on the search path again.
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
    for (const std::string& folder : splitFields(path, ':')) {
        // dash reads an entry's first % followed by "builtin" or "func" as an option of the
        // folder before it: %builtin runs no file from it, and a file of the name in a %func
        // folder is read as shell functions, ending the search with none found. Any other %
        // is part of the folder's name.
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
