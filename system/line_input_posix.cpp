#include "system/line_input_bytes.h"

// A terminal, a pipe or a file: the line's bytes as they come.
LineRead readInputLine(std::string& line) {
    return readByteLine(line);
}
