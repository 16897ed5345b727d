#pragma once

#include <cstdio>
#include <string>

// Reads a command's output pipe to its end, 127 characters at most per read. A read
// cut short by a zero byte keeps only the text before it. A read error ends the
// capture with what arrived before it.
std::string captureOutput(std::FILE* pipe);
