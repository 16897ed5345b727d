// Stands in for psql where the test must see exactly what a program was handed:
// prints each argument after the program name, then each libpq variable that decides
// where and as whom psql connects, hex-encoded, one per line ("arg 2D58",
// "env PGUSER 6170", or "noenv PGSERVICE" when the variable is unset). With
// ARGV_DUMP_AS_MISSING_ROLE set it answers as the server does for a role that does not
// exist, and the lines go to standard error, which the report then shows as psql's
// messages: the tool goes on to the next role as it would with a server.
#include <cstdio>
#include <cstdlib>

static FILE* out = stdout;

static void printHex(const char* text) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        std::fprintf(out, "%02X", *p);
    std::fprintf(out, "\n");
}

int main(int argc, char* argv[]) {
    if (std::getenv("ARGV_DUMP_AS_MISSING_ROLE")) {
        std::printf("ROLEMISSING\n");
        out = stderr;
    }
    for (int i = 1; i < argc; ++i) {
        std::fprintf(out, "arg ");
        printHex(argv[i]);
    }
    const char* const names[] = {"PGPASSWORD", "PGHOST",     "PGPORT",
                                 "PGUSER",     "PGDATABASE", "PGCONNECT_TIMEOUT",
                                 "PGSERVICE",  "PGHOSTADDR"};
    for (const char* name : names) {
        const char* value = std::getenv(name);
        if (value) {
            std::fprintf(out, "env %s ", name);
            printHex(value);
        } else {
            std::fprintf(out, "noenv %s\n", name);
        }
    }
    return 0;
}
