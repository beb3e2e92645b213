// Thread-exit hook of the scratch objects on Linux: glibc runs the destructors of
// thread_local objects while the thread's storage is intact, so one list per
// thread, itself thread_local, deletes them.
#include <utility>
#include <vector>

#include "jet/base/thread_scratch.h"

namespace jet {
namespace thread_scratch_internal {
namespace {

class ExitList {
 public:
  ~ExitList() {
    for (auto& [object, destroy] : entries_) destroy(object);
  }
  void Add(void* object, void (*destroy)(void*)) { entries_.emplace_back(object, destroy); }

 private:
  std::vector<std::pair<void*, void (*)(void*)>> entries_;
};

}  // namespace

void DestroyAtThreadExit(void* object, void (*destroy)(void*)) {
  thread_local ExitList list;
  list.Add(object, destroy);
}

}  // namespace thread_scratch_internal
}  // namespace jet
