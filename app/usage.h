#pragma once

#include <ostream>

// Prints the usage text, nine lines.
void printUsage(std::ostream& out);
