#pragma once

#include <string>

enum class LineRead { Line, EndOfInput, Error };

// Reads one line from standard input up to a line feed, which is consumed and not
// stored, and so is one carriage return before it. `line` is replaced only when a line (possibly
// empty, or ended by the end of input) was read; EndOfInput means the input was already at its end.
LineRead readInputLine(std::string& line);

// The same, byte by byte from the C runtime's standard input, with no conversion: how
// readInputLine reads wherever the platform has nothing better.
LineRead readByteLine(std::string& line);
