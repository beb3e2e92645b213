// The command line of jetdb as UTF-8 strings, the form every file name inside the
// engine has, with standard output and error set up to carry the same bytes on every
// platform.
#pragma once

#include <string>
#include <vector>

namespace jetdb {

// argv[0..argc) in UTF-8. On Linux the arguments are taken as they are. Windows hands
// a program its command line in UTF-16 (the char* form is in the ANSI code page,
// which cannot name every file), so there it is read from the system, and standard
// output and error are made to write LF line ends, not CR LF, and UTF-8 text.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace jetdb
