#include "system/command.h"

#include "compliance/role_query.h"
#include "support/decode.h"

#include <gtest/gtest.h>

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
}

TEST(RunCommand, LongLinesArriveWholeAndInOrder) {
    const std::string line(300, 'x');
    EXPECT_EQ(runCommand("echo " + line), line + "\n");
}

TEST(SetInheritedVariable, CommandsSeeTheValue) {
    ASSERT_EQ(setInheritedVariable("ROLEGATE_TEST_VALUE", "a b&c"), 0);
    EXPECT_EQ(runCommand("echo [%ROLEGATE_TEST_VALUE%]"), "[a b&c]\n");
    ASSERT_EQ(clearInheritedVariable("ROLEGATE_TEST_VALUE"), 0);
    EXPECT_EQ(runCommand("if defined ROLEGATE_TEST_VALUE (echo set) else (echo unset)"), "unset\n");
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
        std::string command = windowsRoleQueryCommand(path, value);
        stripNewlines(command);
        EXPECT_EQ(parseArgvDump(runCommand(command)).args, intendedPsqlArgs(value)) << value;
    }
}

TEST(RoleQueryCommand, RegistryPathWithItsLineFeedRuns) {
    const std::string path = besideThisProgram("argv_dump.exe");
    const size_t cut = path.find_last_of('\\');
    std::string command =
        windowsRoleQueryCommand(path.substr(0, cut) + "\n" + path.substr(cut), "r");
    stripNewlines(command);
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

} // namespace
