// POSIX shared memory: the block is a shm object created with mode 0666 (the
// process's umask applies), the lock a robust process-shared mutex in a
// control part after the block.  The object outlives its last user; it goes
// away when removed or when the machine restarts.
#include "common/platform/shared_memory.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <thread>

namespace quarl::platform {
namespace {

enum : uint32_t { kFresh = 0, kInitialising = 1, kReady = 2 };

struct Control {
  uint32_t state;  // kFresh in a new (zero-filled) object; used through atomic_ref
  uint32_t reserved;
  pthread_mutex_t mutex;
};
static_assert(std::atomic_ref<uint32_t>::is_always_lock_free, "the state word is shared between processes");

constexpr size_t round_up(size_t n, size_t to) { return (n + to - 1) / to * to; }

std::string object_name(const std::string& name) { return name.empty() || name[0] != '/' ? "/" + name : name; }

bool init_mutex(pthread_mutex_t* mutex) {
  pthread_mutexattr_t attr;
  if (pthread_mutexattr_init(&attr) != 0) return false;
  bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
            pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 && pthread_mutex_init(mutex, &attr) == 0;
  pthread_mutexattr_destroy(&attr);
  return ok;
}

}  // namespace

SharedMemory::~SharedMemory() { close(); }

SharedMemory::Open SharedMemory::open(const std::string& name, const std::string& /*lock_name*/, size_t size) {
  close();
  const size_t control_offset = round_up(size, 64);
  const size_t total = round_up(control_offset + sizeof(Control), 64);

  // No O_EXCL: whoever comes first creates, everyone grows it to the full
  // size (growing is idempotent), and one process wins the right to set up
  // the lock below.
  int fd = ::shm_open(object_name(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return Open::CannotCreate;
  struct stat st {};
  if (::fstat(fd, &st) != 0 ||
      (static_cast<size_t>(st.st_size) < total && ::ftruncate(fd, static_cast<off_t>(total)) != 0)) {
    ::close(fd);
    return Open::CannotCreate;
  }
  void* mapping = ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (mapping == MAP_FAILED) return Open::CannotMap;

  auto* control = reinterpret_cast<Control*>(static_cast<unsigned char*>(mapping) + control_offset);
  std::atomic_ref<uint32_t> state_word(control->state);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    uint32_t state = state_word.load(std::memory_order_acquire);
    if (state == kReady) break;
    if (state == kFresh &&
        state_word.compare_exchange_strong(state, kInitialising, std::memory_order_acq_rel)) {
      if (!init_mutex(&control->mutex)) {
        state_word.store(kFresh, std::memory_order_release);
        ::munmap(mapping, total);
        return Open::CannotCreate;
      }
      state_word.store(kReady, std::memory_order_release);
      break;
    }
    // Another process is setting the lock up; it takes microseconds.  One
    // that died in between would leave the word stuck: give up then.
    if (std::chrono::steady_clock::now() > deadline) {
      ::munmap(mapping, total);
      return Open::CannotCreate;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  mapping_ = mapping;
  mapping_size_ = total;
  control_ = control;
  data_ = static_cast<unsigned char*>(mapping);
  size_ = size;
  return Open::Ok;
}

void SharedMemory::close() {
  if (mapping_) ::munmap(mapping_, mapping_size_);
  mapping_ = control_ = nullptr;
  data_ = nullptr;
  size_ = mapping_size_ = 0;
}

SharedMemory::Lock SharedMemory::lock() {
  if (!control_) return Lock::Failed;
  auto* mutex = &static_cast<Control*>(control_)->mutex;
  int rc = pthread_mutex_lock(mutex);
  if (rc == 0) return Lock::Taken;
  if (rc == EOWNERDEAD) {
    // The holder died; mark the lock usable again and carry on holding it.
    if (pthread_mutex_consistent(mutex) == 0) return Lock::Recovered;
    pthread_mutex_unlock(mutex);
  }
  return Lock::Failed;
}

void SharedMemory::unlock() {
  if (control_) pthread_mutex_unlock(&static_cast<Control*>(control_)->mutex);
}

bool SharedMemory::remove(const std::string& name) { return ::shm_unlink(object_name(name).c_str()) == 0; }

}  // namespace quarl::platform
