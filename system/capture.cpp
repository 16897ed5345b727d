#include "system/capture.h"

std::string captureOutput(std::FILE* pipe) {
    std::string result;
    char buffer[128];
    while (!std::feof(pipe)) {
        if (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
            result.append(buffer);
        else if (std::ferror(pipe))
            break;
    }
    return result;
}
