#include "common/platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quarl::platform {
namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
  int fds[2] = {-1, -1};
  // Both ends above the standard descriptors, which a server started without
  // them might hand out.
  bool open() {
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    for (int& fd : fds)
      if (fd < 3) {
        int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        ::close(fd);
        fd = moved;
      }
    return fds[0] >= 0 && fds[1] >= 0;
  }
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

// ---- The supervisor ----
//
// Each program runs under a supervisor process of its own, forked from the
// caller: it is a "subreaper", so every process the program starts and
// leaves behind (also one that made itself a new session) becomes its child
// rather than init's.  When the program ends, or the caller asks (a byte on
// the control pipe, or the caller's end closing because the caller died),
// the supervisor kills its children over and over until none is left, then
// reports and exits.  It runs in the child of a threaded process, so it only
// makes async-signal-safe calls and allocates nothing.

// What the supervisor writes on its report pipe before it exits.
struct Report {
  int program_ended;  // 1: the program ended by itself; 0: stopped on request
  int wait_status;    // the program's status from waitpid when it ended
};

size_t put_decimal(char* out, long value) {
  char digits[24];
  size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0);
  for (size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
  return n;
}

// Reads a whole small file into buffer (at most size - 1 bytes, terminated);
// -1 when it cannot be opened.
ssize_t read_small_file(const char* path, char* buffer, size_t size) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  size_t used = 0;
  while (used + 1 < size) {
    ssize_t n = ::read(fd, buffer + used, size - 1 - used);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    used += static_cast<size_t>(n);
  }
  ::close(fd);
  buffer[used] = '\0';
  return static_cast<ssize_t>(used);
}

// The children of process self from /proc/self/task/self/children (one
// thread: its children are the process's); false when the kernel does not
// offer that file.
bool listed_children(pid_t self, pid_t* out, int most, int& count) {
  char path[64] = "/proc/";
  size_t at = 6;
  at += put_decimal(path + at, self);
  std::memcpy(path + at, "/task/", 6);
  at += 6;
  at += put_decimal(path + at, self);
  std::memcpy(path + at, "/children", 10);
  char text[16384];
  if (read_small_file(path, text, sizeof text) < 0) return false;
  count = 0;
  long value = -1;
  for (const char* p = text;; ++p) {
    if (*p >= '0' && *p <= '9') {
      value = (value < 0 ? 0 : value * 10) + (*p - '0');
    } else {
      if (value > 0 && count < most) out[count++] = static_cast<pid_t>(value);
      value = -1;
      if (!*p) break;
    }
  }
  return true;
}

// The same found by reading every process's parent from /proc/N/stat.
void scanned_children(pid_t self, pid_t* out, int most, int& count) {
  count = 0;
  int dir = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  char entries[8192];
  for (;;) {
    long n = ::syscall(SYS_getdents64, dir, entries, sizeof entries);
    if (n <= 0) break;
    for (long at = 0; at < n;) {
      // struct linux_dirent64: ino (8), off (8), reclen (2), type (1), name.
      unsigned short reclen;
      std::memcpy(&reclen, entries + at + 16, sizeof reclen);
      const char* name = entries + at + 19;
      at += reclen;
      long pid = 0;
      const char* c = name;
      for (; *c >= '0' && *c <= '9'; ++c) pid = pid * 10 + (*c - '0');
      if (*c || pid <= 0) continue;
      char path[64] = "/proc/";
      size_t len = 6 + put_decimal(path + 6, pid);
      std::memcpy(path + len, "/stat", 6);
      char stat[1024];
      if (read_small_file(path, stat, sizeof stat) <= 0) continue;
      // "pid (name) state ppid ...": the name may hold anything, so the
      // fields are read after its last ')'.
      const char* close = nullptr;
      for (const char* s = stat; *s; ++s)
        if (*s == ')') close = s;
      if (!close || close[1] != ' ' || !close[2] || close[3] != ' ') continue;
      long parent = 0;
      for (const char* s = close + 4; *s >= '0' && *s <= '9'; ++s) parent = parent * 10 + (*s - '0');
      if (parent == self && count < most) out[count++] = static_cast<pid_t>(pid);
    }
  }
  ::close(dir);
}

void pause_briefly() {
  timespec t{0, 1000000};  // 1 ms
  ::nanosleep(&t, nullptr);
}

// Kills the supervisor's children until it has none: a killed process's own
// children become the supervisor's, and are killed in the next round.
void kill_all_children(pid_t self) {
  pid_t children[1024];
  for (;;) {
    int count = 0;
    if (!listed_children(self, children, 1024, count)) scanned_children(self, children, 1024, count);
    if (count == 0) {
      int status = 0;
      pid_t reaped;
      while ((reaped = ::waitpid(-1, &status, WNOHANG)) > 0) {
      }
      if (reaped < 0 && errno == ECHILD) return;
      pause_briefly();  // a child not yet listed
      continue;
    }
    for (int i = 0; i < count; ++i) ::kill(children[i], SIGKILL);
    // Once a killed process has been reaped its children are ours.
    for (int i = 0; i < count; ++i) {
      int status = 0;
      while (::waitpid(children[i], &status, 0) < 0 && errno == EINTR) {
      }
    }
  }
}

// Closes every descriptor from 3 up except those in keep (at most 8).
void close_all_but(const int* keep, int count) {
  int sorted[8];
  for (int i = 0; i < count; ++i) {
    int v = keep[i], j = i;
    for (; j > 0 && sorted[j - 1] > v; --j) sorted[j] = sorted[j - 1];
    sorted[j] = v;
  }
  rlimit limit{};
  long most = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
                      limit.rlim_cur < (1u << 20)
                  ? static_cast<long>(limit.rlim_cur)
                  : (1 << 20);
  auto close_range_of = [&](long from, long to) {  // [from, to)
    if (from >= to) return;
    if (::syscall(SYS_close_range, static_cast<unsigned>(from), static_cast<unsigned>(to - 1), 0) == 0) return;
    for (long fd = from; fd < to && fd < most; ++fd) ::close(static_cast<int>(fd));
  };
  long from = 3;
  for (int i = 0; i < count; ++i) {
    if (sorted[i] < from) continue;
    close_range_of(from, sorted[i]);
    from = sorted[i] + 1;
  }
  close_range_of(from, most > from ? most : from);
  // Anything above the limit that the range call could not close stays
  // close-on-exec at worst; the supervisor execs nothing.
}

struct ChildFds {
  int input, output, errors;  // the program's ends of the three pipes
  int exec_status;            // the program writes errno here when exec fails
  int control;                // the caller's wishes (a byte, or end of file)
  int report;                 // the supervisor's Report
};

[[noreturn]] void run_supervisor(const ChildFds& fds, char* const* argv, char* const* envp, const char* dir) {
  ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
  ::setpgid(0, 0);  // away from the server's group: a terminal's Ctrl-C is for the server
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD}) ::signal(sig, SIG_DFL);
  ::signal(SIGPIPE, SIG_IGN);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  int null_fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null_fd >= 0)
    for (int std_fd = 0; std_fd < 3; ++std_fd) ::dup2(null_fd, std_fd);
  // Nothing of the server (client sockets, database files) stays open here.
  int keep[] = {fds.input, fds.output, fds.errors, fds.exec_status, fds.control, fds.report};
  close_all_but(keep, 6);

  pid_t program = ::fork();
  if (program == 0) {
    ::signal(SIGPIPE, SIG_DFL);
    ::dup2(fds.input, 0);
    ::dup2(fds.output, 1);
    ::dup2(fds.errors, 2);
    int exec_keep[] = {fds.exec_status};
    close_all_but(exec_keep, 1);  // exec_status is close-on-exec
    int code = 0;
    if (dir && ::chdir(dir) != 0) code = errno;
    if (!code) {
      ::execve(argv[0], argv, envp);
      code = errno;
    }
    (void)!::write(fds.exec_status, &code, sizeof code);
    ::_exit(127);
  }
  if (program < 0) {
    int code = errno;
    (void)!::write(fds.exec_status, &code, sizeof code);
  }
  ::close(fds.input);
  ::close(fds.output);
  ::close(fds.errors);
  ::close(fds.exec_status);

  Report report{0, 0};
  if (program > 0) {
    // Readable when the program ends; without it, look every 20 ms.
    int exit_fd = static_cast<int>(::syscall(SYS_pidfd_open, program, 0));
    for (;;) {
      pollfd p[2] = {{fds.control, POLLIN, 0}, {exit_fd, POLLIN, 0}};
      ::poll(p, exit_fd >= 0 ? 2 : 1, exit_fd >= 0 ? -1 : 20);
      int status = 0;
      if (::waitpid(program, &status, WNOHANG) == program) {
        report = {1, status};
        break;
      }
      if (p[0].revents) break;  // asked to stop, or the caller is gone
    }
  }
  kill_all_children(::getpid());
  (void)!::write(fds.report, &report, sizeof report);
  ::_exit(0);
}

bool wait_readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
  }
  return true;
}

}  // namespace

std::string ProcessResult::first_error_line() const {
  std::string line = errors.substr(0, errors.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

ProcessResult run_process(const ProcessCommand& command, const ProcessLimits& limits, const std::atomic<bool>* cancel) {
  ProcessResult result;
  SigpipeBlock sigpipe_block;
  Pipe in, out, err, exec_status, control, report;
  if (!in.open() || !out.open() || !err.open() || !exec_status.open() || !control.open() || !report.open()) {
    result.start_error = std::string("cannot create pipes: ") + std::strerror(errno);
    return result;
  }

  // Everything the children need is prepared before fork.
  std::vector<char*> argv{const_cast<char*>(command.path.c_str())};
  for (const auto& a : command.args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const auto& e : command.env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const char* dir = command.working_dir.empty() ? nullptr : command.working_dir.c_str();

  pid_t supervisor = ::fork();
  if (supervisor < 0) {
    result.start_error = std::string("cannot start a process: ") + std::strerror(errno);
    return result;
  }
  if (supervisor == 0)
    run_supervisor({in.fds[0], out.fds[1], err.fds[1], exec_status.fds[1], control.fds[0], report.fds[1]},
                   argv.data(), envp.data(), dir);
  in.close_end(0);
  out.close_end(1);
  err.close_end(1);
  exec_status.close_end(1);
  control.close_end(0);
  report.close_end(1);

  // Asks the supervisor to end everything, then collects its report.
  Report outcome{0, 0};
  bool reported = false;
  auto finish = [&](bool ask_to_stop) {
    if (ask_to_stop) control.close_end(1);
    if (!reported) {
      wait_readable(report.fds[0]);
      reported = ::read(report.fds[0], &outcome, sizeof outcome) == sizeof outcome;
    }
    while (::waitpid(supervisor, nullptr, 0) < 0 && errno == EINTR) {
    }
    control.close_end(1);
  };

  int code = 0;
  ssize_t got;
  while ((got = ::read(exec_status.fds[0], &code, sizeof code)) < 0 && errno == EINTR) {
  }
  if (got == sizeof code) {  // the program could not be started
    finish(true);
    result.start_error = std::strerror(code);
    return result;
  }

  set_nonblocking(in.fds[1]);
  set_nonblocking(out.fds[0]);
  set_nonblocking(err.fds[0]);
  set_nonblocking(report.fds[0]);
  size_t written = 0;
  if (command.input.empty()) in.close_end(1);

  const auto deadline = Clock::now() + limits.time_limit;
  auto stop = [&](ProcessResult::Outcome why) {
    finish(true);
    result.outcome = why;
    return result;
  };

  char chunk[16384];
  while (out.fds[0] >= 0 || err.fds[0] >= 0 || !reported) {
    if (cancel && cancel->load()) return stop(ProcessResult::Outcome::Cancelled);
    auto now = Clock::now();
    if (now >= deadline) return stop(ProcessResult::Outcome::TimedOut);

    pollfd fds[4];
    nfds_t n = 0;
    int in_slot = -1, out_slot = -1, err_slot = -1, report_slot = -1;
    if (in.fds[1] >= 0) fds[in_slot = int(n++)] = {in.fds[1], POLLOUT, 0};
    if (out.fds[0] >= 0) fds[out_slot = int(n++)] = {out.fds[0], POLLIN, 0};
    if (err.fds[0] >= 0) fds[err_slot = int(n++)] = {err.fds[0], POLLIN, 0};
    if (!reported) fds[report_slot = int(n++)] = {report.fds[0], POLLIN, 0};
    // Wake now and then to look at the cancel flag.
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    ::poll(fds, n, int(std::min<long long>(wait + 1, 100)));

    if (in_slot >= 0 && fds[in_slot].revents) {
      ssize_t w = ::write(in.fds[1], command.input.data() + written, command.input.size() - written);
      if (w > 0) written += size_t(w);
      // A program that stops reading its input early is not an error.
      if ((w < 0 && errno != EAGAIN && errno != EINTR) || written == command.input.size()) in.close_end(1);
    }
    if (out_slot >= 0 && fds[out_slot].revents) {
      ssize_t r = ::read(out.fds[0], chunk, sizeof chunk);
      if (r > 0) {
        if (result.output.size() + size_t(r) > limits.max_output)
          return stop(ProcessResult::Outcome::OutputTooLarge);
        result.output.append(chunk, size_t(r));
      } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
        out.close_end(0);
      }
    }
    if (err_slot >= 0 && fds[err_slot].revents) {
      ssize_t r = ::read(err.fds[0], chunk, sizeof chunk);
      if (r > 0) {
        size_t room = limits.max_error - std::min(limits.max_error, result.errors.size());
        result.errors.append(chunk, std::min(room, size_t(r)));
      } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
        err.close_end(0);
      }
    }
    if (report_slot >= 0 && fds[report_slot].revents) {
      // The program has ended and everything it started is gone, so the
      // output pipes reach their end now.
      ssize_t r = ::read(report.fds[0], &outcome, sizeof outcome);
      if (r == sizeof outcome || r == 0) reported = true;
    }
  }
  finish(false);

  int status = outcome.wait_status;
  if (!outcome.program_ended) {
    result.outcome = ProcessResult::Outcome::Signaled;  // the supervisor itself was stopped
    result.signal_number = SIGKILL;
  } else if (WIFEXITED(status)) {
    result.outcome = ProcessResult::Outcome::Exited;
    result.exit_status = WEXITSTATUS(status);
  } else {
    result.outcome = ProcessResult::Outcome::Signaled;
    result.signal_number = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }
  return result;
}

std::optional<std::filesystem::path> real_path(const std::filesystem::path& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return std::nullopt;
  std::filesystem::path out(resolved);
  ::free(resolved);
  return out;
}

bool is_executable_file(const std::filesystem::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::filesystem::path> make_temp_folder(std::string_view prefix) {
  std::error_code ec;
  auto base = std::filesystem::temp_directory_path(ec);
  if (ec) base = "/tmp";
  std::string pattern = (base / (std::string(prefix) + "-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) return std::nullopt;
  return std::filesystem::path(pattern);
}

}  // namespace quarl::platform
