// Prints the version resource of the Windows executable named on the command line as
// Windows reads it for the file's Properties: the fixed file and product versions, then
// the strings of the first translation, one "name value" per line. Exits 1 when the
// file has no version resource.
#include <windows.h>

#include <cstdio>
#include <vector>

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: version_info FILE\n");
        return 2;
    }
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(argv[1], &ignored);
    if (size == 0) {
        std::printf("no version resource\n");
        return 1;
    }
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(argv[1], 0, size, data.data())) {
        std::printf("no version resource\n");
        return 1;
    }

    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueA(data.data(), "\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        std::printf("fixed FileVersion %u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS),
                    LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                    LOWORD(fixed->dwFileVersionLS));
        std::printf("fixed ProductVersion %u.%u.%u.%u\n", HIWORD(fixed->dwProductVersionMS),
                    LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
                    LOWORD(fixed->dwProductVersionLS));
    }

    if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &value, &length) ||
        length < 2 * sizeof(WORD))
        return 0;
    const auto* translation = static_cast<const WORD*>(value);
    char block[64];
    std::snprintf(block, sizeof block, "\\StringFileInfo\\%04x%04x\\", translation[0],
                  translation[1]);
    for (const char* name : {"ProductName", "FileDescription", "FileVersion", "ProductVersion",
                             "InternalName", "OriginalFilename"}) {
        char query[128];
        std::snprintf(query, sizeof query, "%s%s", block, name);
        if (VerQueryValueA(data.data(), query, &value, &length) && length > 0)
            std::printf("%s %s\n", name, static_cast<const char*>(value));
    }
    return 0;
}
