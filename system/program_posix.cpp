#include "system/program.h"

#include <sys/stat.h>

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

bool liesOutsideCurrentFolder(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    struct stat there, here;
    return stat(folder.c_str(), &there) == 0 && stat(".", &here) == 0 &&
           (there.st_dev != here.st_dev || there.st_ino != here.st_ino);
}
