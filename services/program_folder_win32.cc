// ProgramFolder on Windows: GetModuleFileNameW of the running .exe, the system's own
// record of where it was started from.
#include <windows.h>

#include <string>

#include "jet/base/win32.h"
#include "services/program_folder.h"

namespace services {

std::string ProgramFolder() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return "";
    // A name that fills the buffer may be cut short.
    if (n < buffer.size()) {
      buffer.resize(n);
      break;
    }
    if (buffer.size() >= 32768) return "";  // longer than any Windows path
    buffer.resize(buffer.size() * 2);
  }
  const size_t slash = buffer.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return "";
  // "C:\zivadiduz.exe" gives "C:": the folder without its trailing separator, so that
  // "C:" + "\morvik.ini" names the file.
  return jet::Narrow(std::wstring_view(buffer).substr(0, slash));
}

}  // namespace services
