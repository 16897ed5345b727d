#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

using EnvironmentChanges = std::vector<std::pair<std::string, std::string>>;

struct ProcessResult {
    std::string output; // standard output
    std::string errors; // standard error
    int exitCode = -1;  // -1 when the process did not exit normally
    int termSignal = 0; // the signal that ended it, if one did
    bool timedOut = false;
};

// Runs `argv` with `input` on its standard input (closed after it), the given
// environment changes applied, and collects both outputs. A process still running
// after `timeoutSeconds` is killed and reported as timed out.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& input,
                         const EnvironmentChanges& environment = {}, int timeoutSeconds = 60);

// Compiles each locale, named LANGUAGE.CHARSET as localedef's input and character map
// (ja_JP.SJIS: ja_JP in Shift JIS), into a fresh folder, once per test program run;
// returns the folder, for LOCPATH.
std::string compileLocales(const std::vector<std::string>& names);

// A fresh folder holding a `psql` script, for the front of PATH, that runs the shell
// lines `first` (where "${0%/*}" is the folder) and then the real psql with its
// arguments. The caller removes the folder.
std::string psqlInFront(const std::string& first);

// A process whose standard streams are the slave side of a fresh pseudo-terminal
// that is its controlling terminal, as when a person runs it in a terminal window.
struct TerminalSession {
    int pid = -1;
    int master = -1;
    int slave = -1; // kept open here, so the terminal's settings outlive the process
    std::string screen;
};

// Cooked is a terminal as a shell leaves it: it echoes, edits lines and turns keys into
// signals. Raw hands every key over as typed, as to a program that draws its own screen.
enum class TerminalMode { Cooked, Raw };

TerminalSession startOnTerminal(const std::vector<std::string>& argv,
                                const EnvironmentChanges& environment = {},
                                TerminalMode mode = TerminalMode::Cooked);
// Reads the terminal until `text` has appeared on it or `timeoutSeconds` pass.
bool waitForScreen(TerminalSession& session, const std::string& text, int timeoutSeconds = 30);
// Reads the terminal until `shows` holds for the screen or `timeoutSeconds` pass.
bool waitForScreen(TerminalSession& session,
                   const std::function<bool(const std::string& screen)>& shows,
                   int timeoutSeconds = 30);
// Types `keys` on the terminal.
void typeOnTerminal(TerminalSession& session, const std::string& keys);
// Whether the terminal echoes what is typed.
bool terminalEchoes(const TerminalSession& session);
// Reads the terminal until its echo is switched `on` (or off) or `timeoutSeconds` pass.
bool waitForEcho(TerminalSession& session, bool on, int timeoutSeconds = 10);
// Waits for the process to end, reading the terminal meanwhile; returns its wait status,
// or -1 after killing it when it did not end in time.
int waitForExit(TerminalSession& session, int timeoutSeconds = 30);
void closeTerminal(TerminalSession& session);
