// Stands in for psql where the test must see exactly what a program was handed:
// prints each argument after the program name, then PGPASSWORD, hex-encoded, one
// per line ("arg 2D58", "env ...", or "noenv" when PGPASSWORD is unset).
#include <cstdio>
#include <cstdlib>

static void printHex(const char* label, const char* text) {
    std::printf("%s ", label);
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        std::printf("%02X", *p);
    std::printf("\n");
}

int main(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i)
        printHex("arg", argv[i]);
    const char* password = std::getenv("PGPASSWORD");
    if (password)
        printHex("env", password);
    else
        std::printf("noenv\n");
    return 0;
}
