// jetdb's arguments on Windows: the UTF-16 command line, and output in binary mode
// with the console set to UTF-8.
#include "tools/jetdb/arguments.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>

#include "jet/base/win32.h"

namespace jetdb {

std::vector<std::string> Utf8Arguments(int, char**) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 0; wide != nullptr && i < count; ++i) args.push_back(jet::Narrow(wide[i]));
  ::LocalFree(wide);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  ::SetConsoleOutputCP(CP_UTF8);
  return args;
}

}  // namespace jetdb
