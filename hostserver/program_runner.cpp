#include "hostserver/program_runner.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace hostserver {
namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
  int fds[2] = {-1, -1};
  bool open() { return ::pipe2(fds, O_CLOEXEC) == 0; }
  void close_end(int i) {
    if (fds[i] >= 0) ::close(fds[i]);
    fds[i] = -1;
  }
  ~Pipe() {
    close_end(0);
    close_end(1);
  }
};

void set_nonblocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Writing to a pipe whose reader is gone raises SIGPIPE; keep it from the
// process while this thread runs a program, and drop any that came.
class SigpipeBlock {
 public:
  SigpipeBlock() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~SigpipeBlock() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    timespec zero{};
    while (sigtimedwait(&set, nullptr, &zero) == SIGPIPE) {
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }

 private:
  sigset_t old_;
};

}  // namespace

std::string ProgramResult::first_error_line() const {
  std::string line = errors.substr(0, errors.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

ProgramResult run_program(const ProgramRun& run, const ProgramLimits& limits, const std::atomic<bool>* cancel) {
  ProgramResult result;
  SigpipeBlock sigpipe_block;
  Pipe in, out, err, exec_status;
  if (!in.open() || !out.open() || !err.open() || !exec_status.open()) {
    result.start_error = std::string("cannot create pipes: ") + std::strerror(errno);
    return result;
  }

  // Everything the child needs is prepared before fork: after it, the child
  // of a threaded server may only make async-signal-safe calls.
  std::vector<char*> argv{const_cast<char*>(run.path.c_str())};
  for (const auto& a : run.args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const auto& e : run.env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const char* dir = run.working_dir.empty() ? nullptr : run.working_dir.c_str();

  pid_t pid = ::fork();
  if (pid < 0) {
    result.start_error = std::string("cannot start a process: ") + std::strerror(errno);
    return result;
  }
  if (pid == 0) {
    ::setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    ::dup2(in.fds[0], 0);
    ::dup2(out.fds[1], 1);
    ::dup2(err.fds[1], 2);
    // The pipes were made close-on-exec; the three dup2 copies are not.  No
    // other descriptor of the server (databases, sockets) reaches the program.
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
      long max = ::sysconf(_SC_OPEN_MAX);
      for (int fd = 3; fd < (max > 0 && max < 65536 ? max : 65536); ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    int code = 0;
    if (dir && ::chdir(dir) != 0) code = errno;
    if (!code) {
      ::execve(argv[0], argv.data(), envp.data());
      code = errno;
    }
    (void)!::write(exec_status.fds[1], &code, sizeof code);
    ::_exit(127);
  }
  // Also from here, so the group exists before any kill below.
  ::setpgid(pid, pid);
  in.close_end(0);
  out.close_end(1);
  err.close_end(1);
  exec_status.close_end(1);

  int code = 0;
  ssize_t got = ::read(exec_status.fds[0], &code, sizeof code);  // returns at exec or exit
  if (got == sizeof code) {
    ::waitpid(pid, nullptr, 0);
    result.start_error = std::strerror(code);
    return result;
  }

  // Readable when the program ends, so its end wakes the wait at once
  // (without one, the wait looks again every few milliseconds).
  int exit_fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  struct ExitFd {
    int fd;
    ~ExitFd() {
      if (fd >= 0) ::close(fd);
    }
  } exit_guard{exit_fd};

  set_nonblocking(in.fds[1]);
  set_nonblocking(out.fds[0]);
  set_nonblocking(err.fds[0]);
  size_t written = 0;
  if (run.input.empty()) in.close_end(1);

  const auto deadline = Clock::now() + limits.time_limit;
  bool reaped = false;
  int status = 0;
  auto kill_group = [&] { ::kill(-pid, SIGKILL); };
  auto stop = [&](ProgramResult::Outcome why) {
    kill_group();
    if (!reaped) ::waitpid(pid, &status, 0);
    result.outcome = why;
    return result;
  };

  char chunk[16384];
  while (out.fds[0] >= 0 || err.fds[0] >= 0 || !reaped) {
    if (cancel && cancel->load()) return stop(ProgramResult::Outcome::Cancelled);
    auto now = Clock::now();
    if (now >= deadline) return stop(ProgramResult::Outcome::TimedOut);

    pollfd fds[4];
    nfds_t n = 0;
    int in_slot = -1, out_slot = -1, err_slot = -1;
    if (in.fds[1] >= 0) fds[in_slot = int(n++)] = {in.fds[1], POLLOUT, 0};
    if (out.fds[0] >= 0) fds[out_slot = int(n++)] = {out.fds[0], POLLIN, 0};
    if (err.fds[0] >= 0) fds[err_slot = int(n++)] = {err.fds[0], POLLIN, 0};
    if (!reaped && exit_fd >= 0) fds[n++] = {exit_fd, POLLIN, 0};
    // Wake now and then to look at the cancel flag (and, without a pidfd,
    // for the program's end).
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    int timeout = int(std::min<long long>(wait + 1, reaped || exit_fd >= 0 ? 100 : 5));
    ::poll(fds, n, timeout);

    if (in_slot >= 0 && fds[in_slot].revents) {
      ssize_t w = ::write(in.fds[1], run.input.data() + written, run.input.size() - written);
      if (w > 0) written += size_t(w);
      // A program that stops reading its input early is not an error.
      if ((w < 0 && errno != EAGAIN) || written == run.input.size()) in.close_end(1);
    }
    if (out_slot >= 0 && fds[out_slot].revents) {
      ssize_t r = ::read(out.fds[0], chunk, sizeof chunk);
      if (r > 0) {
        if (result.output.size() + size_t(r) > limits.max_output) return stop(ProgramResult::Outcome::OutputTooLarge);
        result.output.append(chunk, size_t(r));
      } else if (r == 0 || errno != EAGAIN) {
        out.close_end(0);
      }
    }
    if (err_slot >= 0 && fds[err_slot].revents) {
      ssize_t r = ::read(err.fds[0], chunk, sizeof chunk);
      if (r > 0) {
        size_t room = limits.max_error - std::min(limits.max_error, result.errors.size());
        result.errors.append(chunk, std::min(room, size_t(r)));
      } else if (r == 0 || errno != EAGAIN) {
        err.close_end(0);
      }
    }
    if (!reaped && ::waitpid(pid, &status, WNOHANG) == pid) {
      reaped = true;
      // What the program started is ended with it; the pipes then close.
      kill_group();
    }
  }

  if (WIFEXITED(status)) {
    result.outcome = ProgramResult::Outcome::Exited;
    result.exit_status = WEXITSTATUS(status);
  } else {
    result.outcome = ProgramResult::Outcome::Signaled;
    result.signal_number = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }
  return result;
}

}  // namespace hostserver
