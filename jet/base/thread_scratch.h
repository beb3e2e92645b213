// Per-thread scratch objects: buffers that a hot path (a row's validation, a text
// key) keeps from call to call so that it does not allocate on every call, one set
// per thread because the check and the compaction call those paths from helper
// threads.
//
// Each call site owns a slot, a thread_local pointer, and takes its object from it:
//
//     thread_local RowLayout* layout_slot = nullptr;
//     RowLayout& layout = ThreadScratch(&layout_slot);
//
// The object is made on the thread's first call and deleted when the thread ends.
//
// Why not a thread_local object: under mingw-w64's GCC, thread-local storage is
// emulated, and when a thread ends the emulation frees an object's storage before
// the C++ runtime runs that object's destructor (GCC bug 80816). A destructor that
// frees a buffer then frees whatever the heap has put there since; a helper thread of
// the repair crashed that way under Wine. A pointer has no destructor, and the
// object it names is deleted by the thread-exit hook of the platform (see the
// *_posix.cc and *_win32.cc files), which does not depend on that storage.
#pragma once

namespace jet {

namespace thread_scratch_internal {
// Calls destroy(object) when the calling thread ends.
void DestroyAtThreadExit(void* object, void (*destroy)(void*));
}  // namespace thread_scratch_internal

template <typename T>
T& ThreadScratch(T** slot) {
  if (*slot == nullptr) {
    *slot = new T();
    thread_scratch_internal::DestroyAtThreadExit(*slot, [](void* object) { delete static_cast<T*>(object); });
  }
  return **slot;
}

}  // namespace jet
