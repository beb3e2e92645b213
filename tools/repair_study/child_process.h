// Child processes with a time limit, for the repair study: a repair or a reader that
// crashes or hangs on a damaged file must not take the study with it, and must be
// seen as what it is. Every child runs in its own process group and is killed with
// the group when its time is up. Standard input is /dev/null; standard output is
// collected (up to kMaxChildOutput, past which the child is killed as runaway);
// standard error is collected up to a few kilobytes, for the reason of a death.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace study {

inline constexpr size_t kMaxChildOutput = size_t(256) << 20;

struct ChildResult {
  bool started = false;
  bool timed_out = false;  // killed when its time was up (or its output ran away)
  int exit_code = -1;      // when it exited
  int signal = 0;          // the signal that ended it otherwise
  std::string out;
  std::string err;

  // Crashed or hung: ended by a signal it did not choose, or by the time limit.
  bool Died() const { return !started || timed_out || signal != 0; }
  // "exit 1", "signal 11", "no answer within the time limit", "could not start".
  std::string Describe() const;
};

// Runs `body` in a forked child; its return value is the child's exit code. The body
// writes its answer to standard output (file descriptor 1).
ChildResult RunInChild(const std::function<int()>& body, double seconds);

// Runs a program (argv[0] searched on PATH).
ChildResult RunProgram(const std::vector<std::string>& argv, double seconds);

// A long-lived child that answers requests, one line in, lines out up to a line the
// caller recognises as the end. Restarted on the next request after it died or was
// killed for taking too long.
class LineServer {
 public:
  explicit LineServer(std::vector<std::string> argv) : argv_(std::move(argv)) {}
  ~LineServer();
  LineServer(const LineServer&) = delete;
  LineServer& operator=(const LineServer&) = delete;

  // Sends `request` and collects the answer until `is_last(line)` holds for a line.
  // False when the server could not be started, died or ran out of time; `answer`
  // then holds what it wrote before.
  bool Ask(const std::string& request, const std::function<bool(const std::string&)>& is_last, double seconds,
           std::string* answer);

 private:
  bool Start();
  void Stop();

  std::vector<std::string> argv_;
  pid_t pid_ = -1;
  int to_child_ = -1;
  int from_child_ = -1;
  std::string pending_;  // read past the end of the last answer
};

}  // namespace study
