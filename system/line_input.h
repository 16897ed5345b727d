#pragma once

#include <string>

enum class LineRead { Line, EndOfInput, Error };

// Reads one line from standard input up to a line feed, which is consumed and not
// stored, and so is one carriage return before it. `line` is replaced only when a line (possibly
// empty, or ended by the end of input) was read; EndOfInput means the input was already at its end.
LineRead readInputLine(std::string& line);
