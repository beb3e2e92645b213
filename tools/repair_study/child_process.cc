// Child processes: fork, pipes, poll with a deadline, kill of the process group.
#include "tools/repair_study/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

namespace study {
namespace {

constexpr size_t kMaxChildErrors = 4096;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int RemainingMillis(double deadline) {
  const double left = deadline - Now();
  return left <= 0 ? 0 : int(left * 1000) + 1;
}

// Two pipes, or none (false).
bool MakePipes(int first[2], int second[2]) {
  if (::pipe2(first, O_CLOEXEC) != 0) return false;
  if (::pipe2(second, O_CLOEXEC) == 0) return true;
  ::close(first[0]);
  ::close(first[1]);
  return false;
}

// Forks a child in its own process group with standard input from /dev/null and
// standard output and error into pipes; the child runs `in_child` and never returns.
pid_t Spawn(const std::function<void()>& in_child, int* out_fd, int* err_fd) {
  int out[2], err[2];
  if (!MakePipes(out, err)) return -1;
  std::fflush(nullptr);  // nothing buffered here may be written twice by the child
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    const int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    in_child();
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  if (pid < 0) {
    ::close(out[0]);
    ::close(err[0]);
    return -1;
  }
  ::setpgid(pid, pid);
  *out_fd = out[0];
  *err_fd = err[0];
  return pid;
}

void KillGroup(pid_t pid) { ::kill(-pid, SIGKILL); }

void Reap(pid_t pid, ChildResult* result) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  KillGroup(pid);  // anything it left behind
  if (WIFEXITED(status)) result->exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status) && !result->timed_out) result->signal = WTERMSIG(status);
}

ChildResult Collect(pid_t pid, int out_fd, int err_fd, double seconds) {
  ChildResult result;
  result.started = true;
  const double deadline = Now() + seconds;
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    const int ready = ::poll(fds, 2, RemainingMillis(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      result.timed_out = true;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
        continue;
      }
      if (i == 1 && result.err.size() >= kMaxChildErrors) continue;
      sinks[i]->append(buffer, size_t(n));
    }
    if (result.out.size() > kMaxChildOutput) {
      result.timed_out = true;
      break;
    }
  }
  if (result.timed_out) KillGroup(pid);
  for (pollfd& f : fds)
    if (f.fd >= 0) ::close(f.fd);
  Reap(pid, &result);
  return result;
}

}  // namespace

std::string ChildResult::Describe() const {
  if (!started) return "could not start";
  if (timed_out) return "no answer within the time limit";
  if (signal != 0) return "killed by signal " + std::to_string(signal);
  return "exit " + std::to_string(exit_code);
}

ChildResult RunInChild(const std::function<int()>& body, double seconds) {
  int out = -1, err = -1;
  const pid_t pid = Spawn([&] {
    const int code = body();
    std::fflush(nullptr);
    ::_exit(code);
  }, &out, &err);
  if (pid < 0) return ChildResult();
  return Collect(pid, out, err, seconds);
}

ChildResult RunProgram(const std::vector<std::string>& argv, double seconds) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int out = -1, err = -1;
  const pid_t pid = Spawn([&] { ::execvp(args[0], args.data()); }, &out, &err);
  if (pid < 0) return ChildResult();
  return Collect(pid, out, err, seconds);
}

LineServer::~LineServer() { Stop(); }

bool LineServer::Start() {
  int in[2], out[2];
  if (!MakePipes(in, out)) return false;
  std::vector<char*> args;
  for (const std::string& a : argv_) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::fflush(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::setpgid(0, 0);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(null, 2);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  if (pid_ < 0) {
    ::close(in[1]);
    ::close(out[0]);
    return false;
  }
  ::setpgid(pid_, pid_);
  to_child_ = in[1];
  from_child_ = out[0];
  pending_.clear();
  return true;
}

void LineServer::Stop() {
  if (pid_ < 0) return;
  ::close(to_child_);
  ::close(from_child_);
  KillGroup(pid_);
  ChildResult ignored;
  ignored.timed_out = true;
  Reap(pid_, &ignored);
  pid_ = -1;
}

bool LineServer::Ask(const std::string& request, const std::function<bool(const std::string&)>& is_last,
                     double seconds, std::string* answer) {
  answer->clear();
  if (pid_ < 0 && !Start()) return false;
  const std::string line = request + "\n";
  for (size_t done = 0; done < line.size();) {
    const ssize_t n = ::write(to_child_, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Stop();
      return false;
    }
    done += size_t(n);
  }
  const double deadline = Now() + seconds;
  char buffer[65536];
  for (;;) {
    size_t begin = 0, end;
    while ((end = pending_.find('\n', begin)) != std::string::npos) {
      const std::string text = pending_.substr(begin, end - begin);
      begin = end + 1;
      answer->append(text).push_back('\n');
      if (is_last(text)) {
        pending_.erase(0, begin);
        return true;
      }
    }
    pending_.erase(0, begin);
    pollfd fd = {from_child_, POLLIN, 0};
    const int ready = ::poll(&fd, 1, RemainingMillis(deadline));
    if (ready < 0 && errno == EINTR) continue;
    const ssize_t n = ready > 0 ? ::read(from_child_, buffer, sizeof buffer) : 0;
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || answer->size() + pending_.size() > kMaxChildOutput) {
      Stop();
      return false;
    }
    pending_.append(buffer, size_t(n));
  }
}

}  // namespace study
