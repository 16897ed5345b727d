#pragma once

#include <cstdio>

// The platform's pipe from a command run by its command interpreter: the command's
// standard output, opened for reading as text. nullptr when it cannot be opened.
std::FILE* openCommandPipe(const char* command);
// Closes the pipe and waits for the command to end.
void closeCommandPipe(std::FILE* pipe);
