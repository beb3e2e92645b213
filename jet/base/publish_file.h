// Publication: the one way anything here puts a file in place. Nothing that is written
// may ever be seen half-written, not even after a crash or a power cut, so a file is
// never written where it is to end up: it is written beside that place, flushed, and
// renamed over it, and then the folder is flushed; a failure on the way takes the new
// file away again. Every file operation of the sequence goes through an Env, so a test
// can fail or crash each one. Also here: where a replacement has to land.
#pragma once

#include <functional>
#include <string>

#include "jet/base/env.h"
#include "jet/base/status.h"

namespace jet {

// What may be at the target of a publish.
enum class PublishMode {
  // Nothing: kDestinationExists when anything is there (a file, a folder, a link, even
  // one that leads nowhere), checked before the write and again just before the
  // rename. A failure after the rename takes the new file away again, so that a
  // failure leaves no file at all.
  kCreate,
  // A file that is replaced (or nothing). The new file gets the permission bits of the
  // one it replaces, so a database shared by a group stays writable for the group. A
  // failure after the rename leaves the new file in place: the old one is gone then.
  kReplace,
};

struct PublishOptions {
  PublishMode mode = PublishMode::kCreate;
  // Run last before the rename; an error stops the publish with `target` as it was.
  // A replace that must only go ahead on the file the caller knows checks that here
  // (ExpectUnchanged in jet/file/file_stamp.h).
  std::function<Status()> before_rename;
};

// One new file on its way to `target`:
//   Publication publication;
//   Status s = publication.Begin(env, target, options);
//   ... write the whole file at publication.temporary() through `env`: create it
//       (NewWritableFile), write, flush and close it, check it if need be ...
//   if (s.ok()) s = publication.Commit();
// Begin checks the target (kCreate) and removes what crashed earlier writers of it left
// beside it (RemoveStaleTemporaryFiles). Commit, with kReplace, sets the permission bits
// of the file at `target` on the new one; then runs before_rename, checks the target
// again (kCreate), renames the new file over it and flushes the folder, so the rename
// is durable. Until Commit has renamed, a failure leaves `target` as it was, and a
// Publication that goes away unfinished removes its temporary file; a crash leaves at
// most that file, which the next Publication of `target` removes.
class Publication {
 public:
  Publication() = default;
  ~Publication();
  Publication(const Publication&) = delete;
  Publication& operator=(const Publication&) = delete;

  Status Begin(Env* env, const std::string& target, const PublishOptions& options);
  // The path to write the new file at: new, beside `target`, named as a temporary file.
  const std::string& temporary() const { return temporary_; }
  Status Commit();

 private:
  void Abandon();

  Env* env_ = nullptr;
  std::string target_;
  std::string temporary_;
  PublishOptions options_;
  bool pending_ = false;  // begun, neither committed nor abandoned
};

// Where a file that is about to be replaced really lies, and whether it may be. A
// symbolic link at `path` is followed: the file it names is the one to replace, and the
// link stays (a rename over the link would replace the link and leave that file as it
// was). `*target` is where the new file goes and `*info` what is there now (type
// kMissing for nothing). A link that leads nowhere is kNotFound. A file that nobody may
// write is refused (EACCES): the rename that replaces it would ask only the folder.
Status ResolveReplaceTarget(Env* env, const std::string& path, std::string* target, FileInfo* info);

}  // namespace jet
