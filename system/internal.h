#pragma once

// Shared by the files of system/ (and their tests); the rest of the program never uses it.

#include "system/command.h"
#include "system/console.h"

#include <chrono>
#include <cstddef>
#include <string>

using CommandClock = std::chrono::steady_clock;

// The most kept of a command's output and of its messages; the rest is read and dropped.
inline constexpr size_t kCommandOutputLimit = size_t{16} << 20;
inline constexpr size_t kCommandErrorsLimit = size_t{64} << 10;

// Milliseconds from now until `deadline`, 0 once it has passed.
int millisecondsUntil(CommandClock::time_point deadline);

// A command's standard output, and its standard error when collected, as read; lines
// that end in CR LF where the platform's programs write them so (Windows).
struct CommandStreams {
    bool collectErrors = false;
    bool crlfLineEnds = false;
    std::string output;
    std::string errors;
};

// Appends to `kept` as much of the `size` bytes at `data` as stays within `limit`.
void keepBytes(std::string& kept, const char* data, size_t size, size_t limit);

// Runs `command` through the command interpreter and reads its streams until they end or
// `deadline` passes; then stops it, with all it started, and reaps it.
CommandEnd runOnThisPlatform(const std::string& command, const std::string& programFolder,
                             CommandClock::time_point deadline, CommandStreams& streams);

inline constexpr char kPasswordPrompt[] = "Please enter database password:\n";

// Writes the password prompt to `fd`; async-signal-safe.
void writePrompt(int fd);

// One line of standard input, byte by byte through the C runtime, with no conversion.
LineRead readByteLine(std::string& line);

// readInputLine's reading; `interrupted` is set when Ctrl-C cut it short (Windows).
LineRead readLineOrInterrupt(std::string& line, bool& interrupted);

// Ends the run as Ctrl-C would, once a read it cut short has been put right.
[[noreturn]] void endInterruptedRun();

// Switches echo off where the input is a terminal or console, until showTyping or an
// ending or stopping signal (a continued job shows the prompt again on `promptFd`).
// False when there is nothing to switch.
bool hideTyping(int promptFd);
void showTyping();

#ifdef _WIN32
// UTF-8 to and from UTF-16, and a code page's bytes to UTF-8: 0, or 1 (`to` unchanged)
// when `from` is no text in its encoding; nothing is replaced by a look-alike.
int toWide(const std::string& from, std::wstring& to);
int toUtf8(const std::wstring& from, std::string& to);
int codePageToUtf8(const std::string& from, unsigned codePage, std::string& to);

// wipeSecret for wide text: the console's line, the environment block.
void wipeSecret(std::wstring& secret);
#else
#include <csignal>
#include <vector>

// Every signal whose default action ends the process, but SIGKILL and SIGSTOP.
const std::vector<int>& endingSignals();

// Handles each of `signals` with `handler`, blocking `mask` meanwhile, and keeps what was
// there in `previous` when given; a signal this process was started to ignore stays so.
void handleSignals(const std::vector<int>& signals, void (*handler)(int), int flags,
                   const sigset_t& mask, struct sigaction* previous);
#endif
