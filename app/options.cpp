#include "app/options.h"

#include <utility>

namespace {

// An option takes the argument after it as its value; a flag (no `field`) takes none and
// counts only where a name stands.
struct OptionName {
    const char* shortName; // nullptr where there is none
    const char* longName;
    Argument CheckOptions::*field;
    bool CheckOptions::*given; // set when given; nullptr where no one asks
};

const OptionName kOptionNames[] = {
    {"-h", "--hostname", &CheckOptions::hostname, nullptr},
    {"-p", "--port", &CheckOptions::port, nullptr},
    {"-u", "--pguser", &CheckOptions::pguser, nullptr},
    {"-m", "--mainuser", &CheckOptions::mainuser, nullptr},
    {"-i", "--internaluser", &CheckOptions::internaluser, &CheckOptions::internalGiven},
    {nullptr, "--format", &CheckOptions::format, nullptr},
    {nullptr, "--psql", &CheckOptions::psqlPath, &CheckOptions::psqlGiven},
    {nullptr, "--strict", nullptr, &CheckOptions::strict},
    {"-w", "--no-password", nullptr, &CheckOptions::noPassword},
};

// The option or flag `argument` names, or nullptr.
const OptionName* optionNamed(const std::string& argument) {
    for (const OptionName& option : kOptionNames)
        if ((option.shortName != nullptr && argument == option.shortName) ||
            argument == option.longName)
            return &option;
    return nullptr;
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

int readOptions(const std::vector<Argument>& arguments, CheckOptions& options) {
    const size_t count = arguments.size();
    if (count <= 2)
        return 1;
    // A name that matches no option is skipped with its value, and a last name without
    // one is skipped too.
    for (size_t i = 1; i < count;) {
        const std::string& name = arguments[i].text;
        const OptionName* option = optionNamed(name);
        if (option != nullptr && option->field == nullptr) {
            options.*option->given = true;
            i += 1;
        } else if (i + 1 < count) {
            if (option != nullptr) {
                options.*option->field = arguments[i + 1];
                if (option->given != nullptr)
                    options.*option->given = true;
            } else {
                options.skipped.push_back(skippedPair(name));
            }
            i += 2;
        } else {
            options.skipped.push_back(skippedLast(name));
            i += 1;
        }
    }
    // An empty variable where a name was meant leaves a check undone, as a skip does.
    if (options.internalGiven && options.internaluser.text.empty())
        options.skipped.push_back("ERROR: The internal user was given empty and is not checked");
    return 0;
}

std::string validationError(const CheckOptions& options) {
    const std::pair<Argument CheckOptions::*, const char*> required[] = {
        {&CheckOptions::hostname, "ERROR: hostname is empty"},
        {&CheckOptions::port, "ERROR: port is empty"},
        {&CheckOptions::pguser, "ERROR: postgres username is empty"},
        {&CheckOptions::mainuser, "ERROR: main username is empty"},
    };
    for (const auto& [field, message] : required)
        if ((options.*field).text.empty())
            return message;
    if (options.format.text != "text" && options.format.text != "json")
        return "ERROR: format is neither text nor json";
    return "";
}

ReportFormat reportFormat(const CheckOptions& options) {
    return options.format.text == "json" ? ReportFormat::Json : ReportFormat::Text;
}

bool asksForVersion(const std::vector<Argument>& arguments) {
    return arguments.size() == 2 && arguments[1].text == "--version";
}

std::vector<std::string> optionNames() {
    std::vector<std::string> names = {"--version"};
    for (const OptionName& option : kOptionNames) {
        if (option.shortName != nullptr)
            names.push_back(option.shortName);
        names.push_back(option.longName);
    }
    return names;
}
