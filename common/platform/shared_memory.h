// A named block of memory that processes of every user on the machine share,
// with an inter-process lock that guards it.  A holder of the lock that dies
// does not leave the others blocked: the next taker recovers the lock.
#pragma once

#include <cstddef>
#include <string>

namespace quarl::platform {

class SharedMemory {
 public:
  enum class Open { Ok, CannotCreate, CannotMap };
  enum class Lock { Taken, Recovered, Failed };

  SharedMemory() = default;
  ~SharedMemory();
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  // Creates the block of size bytes (all zeros when new), or opens it when
  // it exists, and maps it read-write.  Creation is safe when several
  // processes start at once.  lock_name names the lock where the platform
  // keeps it apart from the block (POSIX keeps it inside the block).
  Open open(const std::string& name, const std::string& lock_name, size_t size);
  void close();
  bool is_open() const { return data_ != nullptr; }

  // The size bytes of the block.
  unsigned char* data() const { return data_; }
  size_t size() const { return size_; }

  // Waits for the lock.  Recovered: the previous holder died holding it; the
  // lock is now held, the block may show that holder's half-done update.
  Lock lock();
  void unlock();

  // Removes the name so that the next open creates a fresh block (processes
  // that have it open keep theirs).  False when there was nothing to remove.
  static bool remove(const std::string& name);

 private:
  unsigned char* data_ = nullptr;
  size_t size_ = 0;
  void* mapping_ = nullptr;  // the whole mapping, control part included
  size_t mapping_size_ = 0;
  void* control_ = nullptr;
};

// Takes the lock for a scope.
class SharedMemoryLock {
 public:
  explicit SharedMemoryLock(SharedMemory& memory) : memory_(memory), state_(memory.lock()) {}
  ~SharedMemoryLock() {
    if (state_ != SharedMemory::Lock::Failed) memory_.unlock();
  }
  SharedMemoryLock(const SharedMemoryLock&) = delete;
  SharedMemoryLock& operator=(const SharedMemoryLock&) = delete;
  bool held() const { return state_ != SharedMemory::Lock::Failed; }
  SharedMemory::Lock state() const { return state_; }

 private:
  SharedMemory& memory_;
  SharedMemory::Lock state_;
};

}  // namespace quarl::platform
