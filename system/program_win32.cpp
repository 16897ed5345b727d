#include "system/program.h"

#include "system/command.h"
#include "system/internal.h"
#include "system/text.h"

#include <windows.h>

namespace {

// The volume and number of the file or folder `path` names, however the path spells it
// (case, short names, . and ..); false when it cannot be opened.
bool fileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& identity) {
    // Backup semantics open a folder too; asking needs no access right.
    const HANDLE file =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool known = GetFileInformationByHandle(file, &identity) != 0;
    CloseHandle(file);
    return known;
}

// Whether the file `path` names is known to lie outside the current folder.
bool liesOutsideCurrentFolder(const std::string& path) {
    std::wstring wide;
    if (toWide(path, wide) != 0)
        return false;
    // The folder with its separator (C:\ or C:\dir\); C:name lies in C:. (the current
    // folder of drive C:), a bare name in the current folder.
    const size_t separator = wide.find_last_of(L"\\/:");
    std::wstring folder = L".";
    if (separator != std::wstring::npos)
        folder = wide.substr(0, separator + 1) + (wide[separator] == L':' ? L"." : L"");
    BY_HANDLE_FILE_INFORMATION there, here;
    return fileIdentity(folder, there) && fileIdentity(L".", here) &&
           (there.dwVolumeSerialNumber != here.dwVolumeSerialNumber ||
            there.nFileIndexHigh != here.nFileIndexHigh ||
            there.nFileIndexLow != here.nFileIndexLow);
}

// A double quote cannot occur in a Windows file name, so a pair around the path is
// only quoting: drop it, and the blanks outside it.
std::string withoutQuotes(const std::string& typed) {
    const size_t first = typed.find_first_not_of(" \t");
    const size_t last = typed.find_last_not_of(" \t");
    if (first == std::string::npos || last - first < 1 || typed[first] != '"' || typed[last] != '"')
        return typed;
    return typed.substr(first + 1, last - first - 1);
}

} // namespace

std::string systemProgramFolder() {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    // It never fails in practice; if it does, no program there is found.
    std::string text;
    if (length == 0 || length >= MAX_PATH || toUtf8(std::wstring(folder, length), text) != 0)
        return "";
    return text;
}

bool isProgramFile(const std::string& path) {
    std::wstring wide;
    if (path.empty() || path.find('%') != std::string::npos || toWide(path, wide) != 0)
        return false;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool isRunnableFile(const std::string& path) {
    return isProgramFile(path);
}

int folderEntryNames(const std::string& folder, std::vector<std::string>& names) {
    names.clear();
    std::wstring wideFolder;
    if (toWide(folder, wideFolder) != 0)
        return 1;
    WIN32_FIND_DATAW entry;
    const HANDLE entries = FindFirstFileW((wideFolder + L"\\*").c_str(), &entry);
    if (entries == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : 1;
    do {
        const std::wstring wideName = entry.cFileName;
        std::string name;
        if (wideName != L"." && wideName != L".." && toUtf8(wideName, name) == 0)
            names.push_back(name);
    } while (FindNextFileW(entries, &entry));
    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(entries);
    if (!complete)
        names.clear();
    return complete ? 0 : 1;
}

std::string programOnSearchPath(const std::string& name) {
    // where.exe lists a file in the current folder first, as cmd.exe would run it: only
    // the search path counts. cmd /c takes off the first and last quote, hence the pair.
    const std::string folder = systemProgramFolder();
    if (folder.empty())
        return "";
    const std::string lines =
        systemOutputText(runCommand("\"\"" + folder + "\\where.exe\" " + name + "\""));
    for (const std::string& line : splitFields(lines, '\n')) {
        const std::string file = withoutLineEnds(line);
        if (isProgramFile(file) && liesOutsideCurrentFolder(file))
            return file;
    }
    return "";
}

std::string typedProgramFile(const std::string& typed) {
    // The file, or the one cmd.exe runs for the name without ".exe". A path holding % is
    // none (isProgramFile): cmd.exe would expand %PGPASSWORD% even between quotes.
    const std::string path = withoutQuotes(typed);
    std::string file = isProgramFile(path) ? path : "";
    if (file.empty() && isProgramFile(path + ".exe"))
        file = path + ".exe";
    // cmd.exe looks a bare name up on the search path, not here.
    if (!file.empty() && file.find_first_of("\\/:") == std::string::npos)
        return ".\\" + file;
    return file;
}
