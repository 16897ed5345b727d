#pragma once

#include "system/line_input.h"

#include <string>

// readInputLine, for a caller that must put things right before Ctrl-C ends the run:
// when Ctrl-C or Ctrl-Break at the console cut the read short, the outcome is Error and
// `interrupted` is set; it is left alone otherwise.
LineRead readInputLineOrInterrupt(std::string& line, bool& interrupted);
