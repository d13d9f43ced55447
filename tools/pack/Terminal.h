#pragma once

#include <cstdio>
#include <string>
#include <vector>

// What fernup-pack reads from and writes to its terminal. All of it is UTF-8
// inside the tool, on both platforms: on Windows the arguments are taken from
// the wide command line and a console is written with WriteConsoleW, so neither
// depends on the system's ANSI code page.

// The program's arguments after its name, as UTF-8.
std::vector<std::string> CommandArguments(int argc, char** argv);

// Writes text and a line end to stream (stdout or stderr).
void PrintLine(std::FILE* stream, const std::string& utf8);
