// Win32 helpers of the Windows build: file names and texts between UTF-8, which
// every std::string in the program holds, and the UTF-16 of the system's wide
// functions; and Win32 error codes as a jet::Status. Only built for Windows.
#pragma once

#ifdef _WIN32

#include <string>
#include <string_view>

#include "jet/base/status.h"

namespace jet {

// UTF-8 to UTF-16 for the W functions. A byte sequence that is not UTF-8 becomes
// U+FFFD, so it names no file the caller did not mean (the file simply is not there).
std::wstring Widen(std::string_view utf8);

// UTF-16 from the system to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Narrow(std::wstring_view wide);

// Whether a GetLastError() code means that nothing is at the path (no file, no folder
// on the way, a name no file can have, a network path that is not there).
bool IsNotFoundError(unsigned long error);

// Maps a GetLastError() code to a kind (file or path not found -> kNotFound, disk
// full -> kNoSpace, sharing or lock violation -> kInUse, file exists ->
// kDestinationExists, else kIoError) with "<what>: <system's message>" as detail.
Status FromWin32Error(unsigned long error, std::string_view what);

// The same for the last error of the calling thread.
Status LastWin32Error(std::string_view what);

}  // namespace jet

#endif  // _WIN32
