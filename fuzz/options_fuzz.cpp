// The option walk over any argument vector: bytes split at zero bytes into arguments.
// The status expected is worked out here from the rules of the command line, not from
// the code under test.
#include "app/options.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

// The value a walk of the command line leaves for each option, by its long name: after
// the program's name a flag stands alone, any other argument takes the next one as its
// value (the last value given wins), and a name with nothing after it is skipped.
std::map<std::string, std::string> valuesGiven(const std::vector<std::string>& args) {
    const std::map<std::string, std::string> longNames = {
        {"-h", "--hostname"}, {"--hostname", "--hostname"}, {"-p", "--port"},
        {"--port", "--port"}, {"-u", "--pguser"},           {"--pguser", "--pguser"},
        {"-m", "--mainuser"}, {"--mainuser", "--mainuser"}, {"--format", "--format"}};
    std::map<std::string, std::string> values = {{"--format", "text"}};
    for (size_t i = 1; i < args.size();) {
        const std::string& name = args[i];
        if (name == "--strict" || name == "-w" || name == "--no-password") {
            i += 1;
            continue;
        }
        if (i + 1 < args.size()) {
            const auto option = longNames.find(name);
            if (option != longNames.end())
                values[option->second] = args[i + 1];
        }
        i += 2;
    }
    return values;
}

// 0 when the command line holds a check: more than one argument, hostname, port, pguser
// and mainuser given and not empty, and a format of exactly "text" or "json"; else 1.
int expectedStatus(const std::vector<std::string>& args) {
    if (args.size() <= 2)
        return 1;
    std::map<std::string, std::string> values = valuesGiven(args);
    for (const char* required : {"--hostname", "--port", "--pguser", "--mainuser"})
        if (values[required].empty())
            return 1;
    return values["--format"] == "text" || values["--format"] == "json" ? 0 : 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args = {"rolegate"};
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    args.push_back(current);

    std::vector<Argument> arguments;
    for (const std::string& arg : args)
        arguments.push_back({arg, arg, true});
    CheckOptions options;
    int status = readOptions(arguments, options);
    if (status == 0 && !validationError(options).empty())
        status = 1;
    if (status != expectedStatus(args))
        std::abort();
    return 0;
}
