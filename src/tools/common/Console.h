#pragma once
// What a console program needs from the system before it starts. Windows
// hands main() its arguments in the ANSI code page, which loses every
// character outside it, writes "\r\n" for each "\n" in text mode, shows
// UTF-8 as mojibake unless the console is told, and knows no line
// buffering. Elsewhere these are no-ops or the C library's own.

#include <cstdio>

namespace ktv::tools {

// Windows: replaces argc/argv with the wide command line as UTF-8, lets the
// console show UTF-8 (its code page is put back at exit), and writes stdout
// and stderr byte for byte, as on Linux, to a console, a pipe or a file.
void PrepareConsole(int& argc, char**& argv);

// Each line reaches whoever reads `stream` as soon as it is printed.
void FlushEachLine(std::FILE* stream);

} // namespace ktv::tools
