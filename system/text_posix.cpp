#include "system/text.h"

int commandLineArguments(int argc, char* argv[], std::vector<std::string>& arguments) {
    arguments.assign(argv, argv + argc);
    return 0;
}
