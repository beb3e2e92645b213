// Stale temporary files: finding them by name, telling dead writers from live ones.
#include "jet/base/stale_temporary.h"

#include <cctype>
#include <cstdlib>
#include <vector>

#include "jet/base/process.h"

namespace jet {
namespace {

constexpr char kMarker[] = ".tmp-";
constexpr size_t kMaxNesting = 3;

// Parses "<pid>-<counter>" (decimal digits only, both parts present); false otherwise.
bool ParseOwner(const std::string& part, long* pid) {
  const size_t dash = part.find('-');
  if (dash == 0 || dash == std::string::npos || dash + 1 == part.size()) return false;
  if (dash > 9) return false;  // longer than any pid
  for (size_t i = 0; i < part.size(); ++i) {
    if (i == dash) continue;
    if (part[i] < '0' || part[i] > '9') return false;
  }
  *pid = std::strtol(part.substr(0, dash).c_str(), nullptr, 10);
  return *pid > 0;
}

// A temporary file of `base` is "." base ".tmp-P-N"; a writer that makes its own
// temporary file beside a temporary destination (the repair's inner compaction) nests
// the pattern: ".." base ".tmp-P-N.tmp-P-N". True when `removable` says yes to every
// owner P.
template <typename OwnerTest>
bool IsRemovableTemporaryOf(const std::string& base, const std::string& name, OwnerTest removable) {
  for (size_t dots = 1; dots <= kMaxNesting; ++dots) {
    const std::string prefix = std::string(dots, '.') + base + kMarker;
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    std::string rest = name.substr(prefix.size());
    size_t parts = 0;
    for (;;) {
      const size_t next = rest.find(kMarker);
      long pid = 0;
      if (!ParseOwner(rest.substr(0, next), &pid) || !removable(pid)) return false;
      ++parts;
      if (next == std::string::npos) break;
      rest = rest.substr(next + sizeof(kMarker) - 1);
    }
    return parts == dots;
  }
  return false;
}

template <typename OwnerTest>
void RemoveTemporaryFiles(Env* env, const std::string& path, OwnerTest removable) {
  const std::string base = BaseName(path);
  if (base.empty()) return;
  const std::string dir = DirName(path);
  // The folder part of `path` as written, separator included ("" for none).
  const std::string prefix = path.substr(0, path.size() - base.size());

  std::vector<std::string> names;
  if (!env->GetChildren(dir, &names).ok()) return;
  for (const std::string& name : names) {
    if (!IsRemovableTemporaryOf(base, name, removable)) continue;
    const std::string file = prefix + name;
    FileInfo info;
    // Only plain files: a folder or link of that name is not something we made.
    if (!env->GetFileInfo(file, &info).ok() || info.is_link || info.type != FileInfo::Type::kRegular)
      continue;
    Status ignored = env->RemoveFile(file);
    (void)ignored;
  }
}

}  // namespace

void RemoveStaleTemporaryFiles(Env* env, const std::string& path) {
  RemoveTemporaryFiles(env, path, [](long pid) { return !ProcessRuns(pid); });
}

void RemoveOwnTemporaryFiles(Env* env, const std::string& path) {
  const long self = CurrentProcessId();
  RemoveTemporaryFiles(env, path, [self](long pid) { return pid == self || !ProcessRuns(pid); });
}

std::string WithoutTemporaryNames(const std::string& text) {
  std::string out = text;
  for (size_t marker = out.find(kMarker); marker != std::string::npos; marker = out.find(kMarker, marker)) {
    // The owner part "P-N" ends at the first character that is neither digit nor dash.
    size_t end = marker + sizeof(kMarker) - 1;
    while (end < out.size() && (std::isdigit(static_cast<unsigned char>(out[end])) || out[end] == '-')) ++end;
    long pid = 0;
    // The name starts after the last separator or blank before the marker, with a dot.
    size_t start = marker;
    while (start > 0 && out[start - 1] != '/' && out[start - 1] != ' ' && out[start - 1] != '"') --start;
    if (!ParseOwner(out.substr(marker + sizeof(kMarker) - 1, end - marker - sizeof(kMarker) + 1), &pid) ||
        out[start] != '.' || start + 1 >= marker) {
      marker = end;
      continue;
    }
    out.erase(marker, end - marker);
    out.erase(start, 1);
    marker = start;  // a nested name has one more marker to take off
  }
  return out;
}

}  // namespace jet
