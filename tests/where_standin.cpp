// Stands in for Windows' where.exe, of which wine has only a stub that prints nothing:
// prints the full path of each file named by its argument (with each extension of
// PATHEXT when it has none) in the current folder first, then in each folder of PATH,
// one a line, as where does. Exit status 1 when it finds none.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <windows.h>

namespace {

std::vector<std::string> split(const char* list) {
    std::vector<std::string> items;
    std::string item;
    for (const char* p = list ? list : "";; ++p) {
        if (*p == ';' || *p == '\0') {
            if (!item.empty())
                items.push_back(item);
            item.clear();
            if (*p == '\0')
                return items;
        } else {
            item.push_back(*p);
        }
    }
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2)
        return 2;
    const std::string name = argv[1];
    std::vector<std::string> extensions = {""};
    if (name.find('.') == std::string::npos)
        extensions = split(std::getenv("PATHEXT"));
    char here[MAX_PATH];
    std::vector<std::string> folders = {std::string(here, GetCurrentDirectoryA(MAX_PATH, here))};
    for (const std::string& folder : split(std::getenv("PATH")))
        folders.push_back(folder);
    int found = 0;
    for (std::string folder : folders) {
        if (folder.back() != '\\')
            folder.push_back('\\');
        for (const std::string& extension : extensions) {
            const std::string path = folder + name + extension;
            const DWORD attributes = GetFileAttributesA(path.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                std::printf("%s\n", path.c_str());
                ++found;
            }
        }
    }
    return found > 0 ? 0 : 1;
}
