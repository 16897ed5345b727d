// Stands in for psql where the test must see exactly what a program was handed:
// prints each argument after the program name, then each libpq variable that decides
// where and as whom psql connects, hex-encoded, one per line ("arg 2D58",
// "env PGUSER 6170", or "noenv PGSERVICE" when the variable is unset).
#include <cstdio>
#include <cstdlib>

static void printHex(const char* text) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        std::printf("%02X", *p);
    std::printf("\n");
}

int main(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        std::printf("arg ");
        printHex(argv[i]);
    }
    const char* const names[] = {"PGPASSWORD", "PGHOST",     "PGPORT",
                                 "PGUSER",     "PGDATABASE", "PGCONNECT_TIMEOUT",
                                 "PGSERVICE",  "PGHOSTADDR"};
    for (const char* name : names) {
        const char* value = std::getenv(name);
        if (value) {
            std::printf("env %s ", name);
            printHex(value);
        } else {
            std::printf("noenv %s\n", name);
        }
    }
    return 0;
}
