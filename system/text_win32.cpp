#include "system/text.h"

#include "system/wide_win32.h"

#include <windows.h>

#include <shellapi.h>

int commandLineArguments(int, char*[], std::vector<std::string>& arguments) {
    // The narrow argv holds the command line in the ANSI code page, where a character it
    // lacks has already become a look-alike (ü as u) or a question mark; the wide command
    // line holds what was typed.
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide)
        return 1;
    std::vector<std::string> converted(static_cast<size_t>(count));
    int status = 0;
    for (int i = 0; i < count && status == 0; ++i)
        status = toUtf8(wide[i], converted[static_cast<size_t>(i)]);
    LocalFree(wide);
    if (status == 0)
        arguments.swap(converted);
    return status;
}

std::string argumentsForServer(int, char*[], const std::vector<std::string>& arguments,
                               std::vector<std::string>& given) {
    given = arguments; // read from the wide command line
    return "UTF8";
}

std::string systemOutputText(const std::string& output) {
    const UINT console = GetConsoleOutputCP();
    std::string text;
    if (codePageToUtf8(output, console != 0 ? console : GetOEMCP(), text) != 0)
        return output;
    return text;
}
