#include "app/usage.h"

#include <ostream>

void printUsage(std::ostream& out) {
    static const char* const kLines[] = {
        "Usage:",
        (" * rolegate -h <HOSTNAME> -p <PORT> -u <DATABASE USER> -m <MAIN USER NEED TO CHECK> -i "
         "<INTERNAL USER NEED TO CHECK>"),
        " Options and arguments (and corresponding environment variables):",
        " * --help\t: instruction",
        " * -h\t: (--hostname) database server host",
        " * -p\t: (--port) database server port",
        " * -u\t: (--pguser) database user name",
        " * -m\t: (--mainuser) main user",
        " * -i\t: (--internaluser) internal user",
    };
    for (const char* line : kLines)
        out << line << std::endl;
}
