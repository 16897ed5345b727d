#include "system/command.h"

#include "compliance/role_query.h"
#include "support/decode.h"
#include "system/internal.h"
#include "system/program.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>
#include <windows.h>

namespace {

// The argv_dump stand-in for psql is built beside this test program.
std::string besideThisProgram(const std::string& name) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, length);
    return dir.substr(0, dir.find_last_of("\\/") + 1) + name;
}

TEST(RunCommand, CapturesStandardOutputAsText) {
    EXPECT_EQ(runCommand("echo hello"), "hello\n");
    EXPECT_EQ(runCommand("echo one& echo two"), "one\ntwo\n");
    EXPECT_EQ(runCommand("rem nothing"), "");
    EXPECT_EQ(runCommand("echo complaint 1>&2"), "");
    std::string output, errors;
    // Both pipes are read at once: a command that fills its standard error before it
    // writes its output is not held until the deadline.
    EXPECT_EQ(runCommandWithin("echo complaint 1>&2& for /L %i in (1,1,1000) do @echo " +
                                   std::string(100, 'e') + " 1>&2& echo out",
                               20, output, "", &errors),
              CommandEnd::Finished);
    EXPECT_EQ(output, "out\n");
    EXPECT_EQ(errors.rfind("complaint", 0), 0u) << errors.substr(0, 200);
    EXPECT_GT(errors.size(), kCommandErrorsLimit / 2);
    EXPECT_LE(errors.size(), kCommandErrorsLimit);
}

// The command's standard input is NUL, never this process's: what was typed ahead, or a
// console a pass-phrase prompt would read, stays out of its reach.
TEST(RunCommand, CommandReadsNothing) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inheritable, 0));
    const char typed[] = "typed ahead\r\n";
    DWORD written = 0;
    WriteFile(writeEnd, typed, sizeof typed - 1, &written, nullptr);
    CloseHandle(writeEnd);
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    SetStdHandle(STD_INPUT_HANDLE, readEnd);
    const std::string output = runCommand("find \"e\"");
    SetStdHandle(STD_INPUT_HANDLE, input);
    CloseHandle(readEnd);
    EXPECT_EQ(output, "");
}

TEST(RunCommand, LongLinesArriveWholeAndInOrder) {
    const std::string line(300, 'x');
    EXPECT_EQ(runCommand("echo " + line), line + "\n");
}

TEST(RunCommandWithin, TheCommandAndWhatItStartedEndAtTheDeadline) {
    // A second cmd.exe, started by the first, leaves one file at once and another about
    // eight seconds later, long after the deadline of 3 s.
    const std::string early = besideThisProgram("started-before-the-deadline.txt");
    const std::string late = besideThisProgram("outlived-the-deadline.txt");
    DeleteFileA(early.c_str());
    DeleteFileA(late.c_str());
    const std::string second = "cmd /c \"echo started>\"" + early +
                               "\"& ping -n 9 127.0.0.1 >nul & echo late>\"" + late + "\"\"";
    std::string output;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(runCommandWithin("echo early& " + second, 3, output), CommandEnd::Stopped);
    const auto returned = std::chrono::steady_clock::now();
    EXPECT_EQ(output, "early\n");
    // Back after the deadline, not once the second cmd.exe has ended.
    EXPECT_LT(returned - started, std::chrono::seconds(7));
    EXPECT_NE(GetFileAttributesA(early.c_str()), INVALID_FILE_ATTRIBUTES)
        << "the second cmd.exe did not start before the deadline";
    // Had it outlived the deadline, its late file would come within eight seconds of
    // its start, which was before now: watch well past that.
    bool outlived = false;
    while (!outlived && std::chrono::steady_clock::now() < returned + std::chrono::seconds(11)) {
        outlived = GetFileAttributesA(late.c_str()) != INVALID_FILE_ATTRIBUTES;
        Sleep(100);
    }
    EXPECT_FALSE(outlived) << "a process the command started outlived the deadline";
    DeleteFileA(early.c_str());
    DeleteFileA(late.c_str());
    EXPECT_EQ(runCommandWithin("echo quick", 20, output), CommandEnd::Finished);
    EXPECT_EQ(output, "quick\n");
}

// A program given by its full path starts in its own folder, where Windows looks for
// the DLLs it loads by name before the search path; a relative one where the tool is.
TEST(RunCommandWithin, StartsInTheProgramsFolder) {
    std::string output;
    EXPECT_EQ(runCommandWithin("cd", 20, output, "C:\\windows\\system32"), CommandEnd::Finished);
    EXPECT_EQ(output, "C:\\windows\\system32\n");
    std::string here;
    runCommandWithin("cd", 20, here);
    runCommandWithin("cd", 20, output, "bin");
    EXPECT_EQ(output, here);
}

TEST(SetInheritedVariable, CommandsSeeTheValue) {
    ASSERT_EQ(setInheritedVariable("ROLEGATE_TEST_VALUE", "a b&c"), 0);
    EXPECT_EQ(runCommand("echo [%ROLEGATE_TEST_VALUE%]"), "[a b&c]\n");
    ASSERT_EQ(clearInheritedVariable("ROLEGATE_TEST_VALUE"), 0);
    EXPECT_EQ(runCommand("if defined ROLEGATE_TEST_VALUE (echo set) else (echo unset)"), "unset\n");
}

// psql sees its environment in its ANSI code page, as it sees its command line; the
// environment holds a value of at most 32,767 characters, its terminating zero included.
TEST(SetInheritedVariable, ProgramsSeeTheValueInTheirCodePageAndNoneIsCutShort) {
    const std::string psql = besideThisProgram("argv_dump.exe");
    const std::string user = "M\xC3\xBCller"; // Müller
    char ansi[16];
    const int length =
        WideCharToMultiByte(CP_ACP, 0, L"M\u00FCller", -1, ansi, sizeof ansi, nullptr, nullptr);
    ASSERT_GT(length, 0);
    const std::string longest(32766, 'p');
    ASSERT_EQ(setInheritedVariable("PGUSER", user), 0);
    ASSERT_EQ(setInheritedVariable("PGPASSWORD", longest), 0);
    const DumpedCall call = parseArgvDump(runCommand("\"\"" + psql + "\"\""));
    EXPECT_EQ(call.environment.at("PGUSER"), std::string(ansi));
    EXPECT_EQ(call.environment.at("PGPASSWORD"), longest);
    EXPECT_EQ(setInheritedVariable("PGPASSWORD", longest + "p"), 1);
    EXPECT_EQ(setInheritedVariable("PGPASSWORD", std::string(40000, 'p')), 1);
    clearInheritedVariable("PGUSER");
    clearInheritedVariable("PGPASSWORD");
}

// No character is ever replaced: text that cannot be converted is refused.
TEST(WideText, TextThatIsNoneIsRefused) {
    std::string utf8;
    std::wstring wide;
    EXPECT_EQ(toUtf8(L"a\u00FC\U0001F600", utf8), 0);
    EXPECT_EQ(utf8, "a\xC3\xBC\xF0\x9F\x98\x80");
    EXPECT_EQ(toUtf8(std::wstring(L"a") + wchar_t(0xD800) + L"b", utf8), 1);
    EXPECT_EQ(toWide("a\xC3", wide), 1);
}

// What cmd.exe and the C runtime hand the program must be exactly what was meant,
// whatever characters the values hold.
TEST(RoleQueryCommand, CmdHandsPsqlExactlyTheIntendedArguments) {
    const std::string path = besideThisProgram("argv_dump.exe");
    const std::vector<std::string> hostile = {
        "plain",
        "o'brien",
        "x' or rolsuper or rolname='y",
        "a\"b&c|d<e>f^g%h%i!j\\k;l(m)n",
        "%PATH%",
        "\"&calc.exe&\"",
        " lead and trail ",
        "r\xC3\xB4le",
    };
    for (const std::string& value : hostile) {
        const std::string command = cmdRoleCommand({path, value});
        EXPECT_EQ(parseArgvDump(runCommand(command)).args, intendedPsqlArgs(value)) << value;
    }
}

TEST(RoleQueryCommand, RegistryPathWithItsLineFeedRuns) {
    const std::string path = besideThisProgram("argv_dump.exe");
    const size_t cut = path.find_last_of('\\');
    const std::string command =
        cmdRoleCommand({path.substr(0, cut) + "\n" + path.substr(cut), "r"});
    EXPECT_EQ(parseArgvDump(runCommand(command)).args, intendedPsqlArgs("r"));
}

// A path pasted from Explorer comes in quotes; one typed may lack ".exe".
TEST(TypedProgramFile, QuotesAndAMissingExtensionStillNameTheFile) {
    const std::string path = besideThisProgram("argv_dump.exe");
    const std::string stem = path.substr(0, path.size() - 4);
    EXPECT_EQ(typedProgramFile(" \"" + path + "\" "), path);
    EXPECT_EQ(typedProgramFile("\"" + stem + "\""), path);
    EXPECT_EQ(typedProgramFile("\"" + stem.substr(0, stem.find_last_of('\\')) + "\""), "");
    // cmd.exe would expand %...% in the path, even in quotes: such a file is never run.
    const std::string percent = path.substr(0, path.find_last_of('\\')) + "\\100%psql.exe";
    ASSERT_TRUE(CopyFileA(path.c_str(), percent.c_str(), FALSE));
    EXPECT_EQ(typedProgramFile(percent), "");
    DeleteFileA(percent.c_str());
}

// A folder named outside the ANSI code page; a bare name is run from here, not looked up.
TEST(TypedProgramFile, AnyFolderNameWorksAndABareNameIsRunFromHere) {
    std::wstring program;
    ASSERT_EQ(toWide(besideThisProgram("argv_dump.exe"), program), 0);
    const std::wstring folder =
        program.substr(0, program.find_last_of(L'\\')) + L"\\Jos\u00E9 \u7530";
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(program.c_str(), (folder + L"\\psql.exe").c_str(), FALSE));
    std::string path;
    ASSERT_EQ(toUtf8(folder + L"\\psql.exe", path), 0);
    EXPECT_EQ(typedProgramFile("\"" + path + "\""), path);
    wchar_t before[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, before);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
    EXPECT_EQ(typedProgramFile("psql"), ".\\psql.exe");
    SetCurrentDirectoryW(before);
    DeleteFileW((folder + L"\\psql.exe").c_str());
    RemoveDirectoryW(folder.c_str());
}

} // namespace
