#pragma once

// Shared by the platforms' readInputLine; no room outside system/ uses it.

#include "system/line_input.h"

#include <string>

// readInputLine's reading, byte by byte from the C runtime's standard input, with no
// conversion: how it reads wherever the platform has nothing better.
LineRead readByteLine(std::string& line);
