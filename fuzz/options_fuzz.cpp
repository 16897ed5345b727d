// The option walk over any argument vector: bytes split at zero bytes into arguments.
#include "app/options.h"

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::cout.setstate(std::ios::badbit); // the validation messages are not wanted here
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

    std::vector<const char*> argv;
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());
    CheckOptions options;
    const int status = parseOptions(static_cast<int>(argv.size()), argv.data(), options);

    const bool complete = !options.hostname.empty() && !options.port.empty() &&
                          !options.pguser.empty() && !options.mainuser.empty();
    if (status != (argv.size() > 2 && complete ? 0 : 1))
        std::abort();
    return 0;
}
