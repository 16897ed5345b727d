#include "system/command.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

TEST(RunCommand, CapturesStandardOutputWhole) {
    EXPECT_EQ(runCommand("true"), "");
    EXPECT_EQ(runCommand("printf 'one\\ntwo\\n\\nfour\\n'"), "one\ntwo\n\nfour\n");
    EXPECT_EQ(runCommand("printf 'no end'"), "no end");
}

TEST(RunCommand, LongLinesArriveWholeAndInOrder) {
    std::string expected;
    for (int i = 0; i < 300; ++i)
        expected.push_back(static_cast<char>('a' + i % 26));
    expected += "\n";
    EXPECT_EQ(runCommand("printf '%s\\n' " + expected.substr(0, 300)), expected);
    // Far beyond any buffer: 200000 bytes across many lines.
    EXPECT_EQ(runCommand("head -c 200000 /dev/zero | tr '\\0' 'x'").size(), 200000u);
}

TEST(RunCommand, ZeroByteCutsItsChunkShort) {
    EXPECT_EQ(runCommand("printf 'ab\\000cd\\nef\\n'"), "abef\n");
}

TEST(RunCommand, StandardErrorIsNotCaptured) {
    EXPECT_EQ(runCommand("echo complaint >&2"), "");
    EXPECT_EQ(runCommand("no-such-command-rolegate 2>/dev/null"), "");
}

TEST(RunCommand, ExitStatusIsIgnored) {
    EXPECT_EQ(runCommand("echo partial; exit 3"), "partial\n");
}

TEST(SetInheritedVariable, CommandsSeeTheValue) {
    ASSERT_EQ(setInheritedVariable("ROLEGATE_TEST_VALUE", "a b'c\"$x"), 0);
    EXPECT_EQ(runCommand("printf '%s' \"$ROLEGATE_TEST_VALUE\""), "a b'c\"$x");
    unsetenv("ROLEGATE_TEST_VALUE");
}

} // namespace
