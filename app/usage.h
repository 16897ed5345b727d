#pragma once

// Prints the usage text, one flushed line at a time.
void printUsage();
