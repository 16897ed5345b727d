// The verdicts over any captured output.
#include "compliance/verdicts.h"

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::cout.setstate(std::ios::badbit); // the report is not wanted here
    const std::string output(reinterpret_cast<const char*>(data), size);
    const bool answered = hasMarker(output, "SUPERUSERTRUE") || hasMarker(output, "SUPERUSERFALSE");
    if (evaluateMainUser(output) != (answered ? 0 : 1))
        std::abort();
    if (evaluateInternalUser(output) != (answered ? 0 : 1))
        std::abort();

    // A FALSE marker always wins over its TRUE twin.
    const RoleAttributes role = readRoleAttributes(output);
    if ((role.login && hasMarker(output, "LOGINFALSE")) ||
        (role.superuser && !hasMarker(output, "SUPERUSERTRUE")))
        std::abort();
    return 0;
}
