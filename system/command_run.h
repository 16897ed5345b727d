#pragma once

// What runCommandWithin (command.cpp) and the platform's way of running a command
// (command_posix.cpp, command_win32.cpp) share. No room outside system/ uses it.

#include <chrono>
#include <cstddef>
#include <string>

using CommandClock = std::chrono::steady_clock;

// Milliseconds from now until `deadline`, 0 once it has passed.
int millisecondsUntil(CommandClock::time_point deadline);

// The bytes a command wrote, as they came: its standard output, and its standard
// error when that is collected.
struct CommandStreams {
    bool collectErrors = false;
    std::string output;
    std::string errors;
};

// Appends to `kept` as much of the `size` bytes at `data` as stays within `limit`;
// the rest is dropped.
void keepBytes(std::string& kept, const char* data, size_t size, size_t limit);

enum class CommandEnd { Finished, Stopped, NotStarted };

// Runs `command` on this platform: opens the pipes, starts the command interpreter,
// reads both streams until they end or `deadline` passes, and stops (with everything
// it started) and reaps a command that has not ended by then.
CommandEnd runOnThisPlatform(const std::string& command, const std::string& programFolder,
                             CommandClock::time_point deadline, CommandStreams& streams);

// What reading `raw` from a text-mode pipe with fgets into a 128-byte buffer gives:
// pieces of at most 127 bytes, each ending at a line feed at the latest, of which a
// zero byte cuts off the rest; with `crlfAsLf` (Windows' text mode) every CR LF is
// read as a single LF first.
std::string capturedText(const std::string& raw, bool crlfAsLf);
