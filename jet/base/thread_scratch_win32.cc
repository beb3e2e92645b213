// Thread-exit hook of the scratch objects on Windows: a fiber-local storage slot
// whose callback Windows runs when a thread ends. The slot holds the thread's list
// of objects, in memory of its own, so the emulated thread-local storage of
// mingw-w64 (freed at thread exit in an order of its own) is never touched there.
#include <windows.h>

#include "jet/base/thread_scratch.h"

namespace jet {
namespace thread_scratch_internal {
namespace {

struct Entry {
  void* object;
  void (*destroy)(void*);
  Entry* next;
};

void WINAPI DestroyEntries(void* head) {
  for (Entry* e = static_cast<Entry*>(head); e != nullptr;) {
    Entry* next = e->next;
    e->destroy(e->object);
    delete e;
    e = next;
  }
}

DWORD ExitSlot() {
  static const DWORD slot = FlsAlloc(DestroyEntries);
  return slot;
}

}  // namespace

void DestroyAtThreadExit(void* object, void (*destroy)(void*)) {
  const DWORD slot = ExitSlot();
  // Without a slot the object outlives its thread: a leak, never a crash.
  if (slot == FLS_OUT_OF_INDEXES) return;
  FlsSetValue(slot, new Entry{object, destroy, static_cast<Entry*>(FlsGetValue(slot))});
}

}  // namespace thread_scratch_internal
}  // namespace jet
