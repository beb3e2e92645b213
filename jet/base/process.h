// The current process and whether another one still runs: what tells the temporary
// file of a live writer from one that a crashed writer left behind.
#pragma once

namespace jet {

// The identifier of this process.
long CurrentProcessId();

// True while a process with identifier `pid` exists (also one of another user).
bool ProcessRuns(long pid);

}  // namespace jet
