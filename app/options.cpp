#include "app/options.h"

#include <iostream>

namespace {

struct OptionName {
    const char* shortName;
    const char* longName;
    std::string CheckOptions::*field;
};

const OptionName kOptionNames[] = {
    {"-h", "--hostname", &CheckOptions::hostname},
    {"-p", "--port", &CheckOptions::port},
    {"-u", "--pguser", &CheckOptions::pguser},
    {"-m", "--mainuser", &CheckOptions::mainuser},
    {"-i", "--internaluser", &CheckOptions::internaluser},
};

struct RequiredValue {
    std::string CheckOptions::*field;
    const char* message;
};

const RequiredValue kRequiredValues[] = {
    {&CheckOptions::hostname, "ERROR: hostname is empty"},
    {&CheckOptions::port, "ERROR: port is empty"},
    {&CheckOptions::pguser, "ERROR: postgres username is empty"},
    {&CheckOptions::mainuser, "ERROR: main username is empty"},
};

} // namespace

int parseOptions(int argc, const char* const argv[], CheckOptions& options) {
    if (argc <= 2)
        return 1;

    // Arguments come in name-value pairs after the program name; a trailing name
    // without a value is ignored, and so is any pair whose name is unknown.
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        for (const OptionName& option : kOptionNames) {
            if (name == option.shortName || name == option.longName) {
                options.*option.field = argv[i + 1];
                break;
            }
        }
    }

    for (const RequiredValue& required : kRequiredValues) {
        if ((options.*required.field).empty()) {
            std::cout << required.message << std::endl;
            return 1;
        }
    }
    return 0;
}
