// The option walk over any argument vector: bytes split at zero bytes into arguments.
#include "app/options.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

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
    const int status = readOptions(arguments, options) != 0 || !validationError(options).empty();

    const bool complete = !options.hostname.text.empty() && !options.port.text.empty() &&
                          !options.pguser.text.empty() && !options.mainuser.text.empty();
    if (status != (arguments.size() > 2 && complete ? 0 : 1))
        std::abort();
    return 0;
}
