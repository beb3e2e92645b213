// A scratch folder for the fuzz targets that need files on disk: made once per
// process (in /dev/shm when there is one, so that the writes stay in memory), and a
// check that a target's work left nothing behind in it.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz_support {

inline const std::string& ScratchFolder() {
  static const std::string folder = [] {
    std::string pattern = (::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    pattern += "/zivadiduz-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  return folder;
}

inline bool WriteInput(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool ok = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && ok;
}

// Removes `keep`-named files the target made on purpose, then aborts (a finding) when
// anything else is left: every failure must clean up after itself.
inline void ExpectEmptyAfterRemoving(const char* const* names, size_t count) {
  const std::string& folder = ScratchFolder();
  for (size_t i = 0; i < count; ++i) ::unlink((folder + "/" + names[i]).c_str());
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) std::abort();
  while (dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::fprintf(stderr, "left behind in the scratch folder: %s\n", name.c_str());
    std::abort();
  }
  ::closedir(dir);
}

}  // namespace fuzz_support
