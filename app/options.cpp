#include "app/options.h"

#include <cstring>
#include <iostream>

namespace {

struct OptionName {
    const char* shortName; // nullptr where there is none
    const char* longName;
    std::string CheckOptions::*field;
};

const OptionName kOptionNames[] = {
    {"-h", "--hostname", &CheckOptions::hostname},
    {"-p", "--port", &CheckOptions::port},
    {"-u", "--pguser", &CheckOptions::pguser},
    {"-m", "--mainuser", &CheckOptions::mainuser},
    {"-i", "--internaluser", &CheckOptions::internaluser},
    {nullptr, "--format", &CheckOptions::format},
    {nullptr, "--psql", &CheckOptions::psqlPath},
};

// Flags take no value: they count only where a name stands.
struct FlagName {
    const char* shortName;
    const char* longName;
    bool CheckOptions::*field;
};

const FlagName kFlagNames[] = {
    {nullptr, "--strict", &CheckOptions::strict},
    {"-w", "--no-password", &CheckOptions::noPassword},
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

bool named(const std::string& argument, const char* shortName, const char* longName) {
    return (shortName != nullptr && argument == shortName) || argument == longName;
}

bool setFlag(const std::string& argument, CheckOptions& options) {
    for (const FlagName& flag : kFlagNames) {
        if (named(argument, flag.shortName, flag.longName)) {
            options.*flag.field = true;
            return true;
        }
    }
    return false;
}

bool setValue(const std::string& name, const std::string& value, CheckOptions& options) {
    for (const OptionName& option : kOptionNames) {
        if (named(name, option.shortName, option.longName)) {
            options.*option.field = value;
            return true;
        }
    }
    return false;
}

// A skipped value is never printed, nor a name that is no option's: in a misaligned
// command line it may be the password.
std::string skippedPair(const std::string& name) {
    if (name.compare(0, 1, "-") == 0)
        return "ERROR: Unknown option \"" + name + "\" was skipped, with the argument after it";
    return "ERROR: An argument that is no option name was skipped, with the argument after it";
}

std::string skippedLast(const std::string& name) {
    if (name.compare(0, 1, "-") == 0)
        return "ERROR: The last argument, \"" + name + "\", has no value after it and was skipped";
    return "ERROR: The last argument has no partner and was skipped";
}

} // namespace

int readOptions(int argc, const char* const argv[], CheckOptions& options) {
    if (argc <= 2)
        return 1;
    // After the program name: a flag, or a name and its value. A name that matches no
    // option is skipped with its value, and a last name without one is skipped too.
    for (int i = 1; i < argc;) {
        const std::string name = argv[i];
        if (setFlag(name, options)) {
            i += 1;
        } else if (i + 1 < argc) {
            if (!setValue(name, argv[i + 1], options))
                options.skipped.push_back(skippedPair(name));
            i += 2;
        } else {
            options.skipped.push_back(skippedLast(name));
            i += 1;
        }
    }
    return 0;
}

int validateOptions(const CheckOptions& options) {
    for (const RequiredValue& required : kRequiredValues) {
        if ((options.*required.field).empty()) {
            std::cout << required.message << std::endl;
            return 1;
        }
    }
    if (options.format != "text" && options.format != "json") {
        std::cout << "ERROR: format is neither text nor json" << std::endl;
        return 1;
    }
    return 0;
}

int parseOptions(int argc, const char* const argv[], CheckOptions& options) {
    if (readOptions(argc, argv, options) != 0)
        return 1;
    return validateOptions(options);
}

ReportFormat reportFormat(const CheckOptions& options) {
    return options.format == "json" ? ReportFormat::Json : ReportFormat::Text;
}

bool asksForVersion(int argc, const char* const argv[]) {
    return argc == 2 && std::strcmp(argv[1], "--version") == 0;
}
