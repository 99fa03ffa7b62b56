// Failed logins are slowed and then cut off.  Each failure on a connection
// is answered later than the one before, a connection is closed after a few
// failures, and an address with many failures in a short time has its logins
// refused for a while (also those with the right password: whoever shares
// the address with a guesser waits too).
#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace hostserver {

struct LoginPolicy {
  unsigned per_connection = 3;          // failures before the connection is closed
  unsigned per_address = 10;            // failures within window that lock an address out
  std::chrono::seconds window{60};
  std::chrono::seconds lockout{60};
  std::chrono::milliseconds first_delay{250};  // doubled for each further failure
  std::chrono::milliseconds max_delay{4000};
};

class LoginGuard {
 public:
  using Clock = std::chrono::steady_clock;
  // Addresses remembered at most; the least recently failing go first.
  static constexpr size_t kMaxAddresses = 4096;

  explicit LoginGuard(LoginPolicy policy = {}) : policy_(policy) {}
  const LoginPolicy& policy() const { return policy_; }

  // How much longer the address's logins are refused (zero: they are checked).
  Clock::duration locked_for(const std::string& address, Clock::time_point now);
  // Records a failed login; true when it locks the address out.
  bool record_failure(const std::string& address, Clock::time_point now);
  // How long the answer to a connection's n-th failed login waits (n from 1).
  std::chrono::milliseconds delay(unsigned failures) const;
  bool connection_spent(unsigned failures) const { return failures >= policy_.per_connection; }

 private:
  struct Entry {
    std::deque<Clock::time_point> failures;  // within the window, oldest first
    Clock::time_point locked_until{};
    Clock::time_point last{};
  };
  void forget_old(Entry& e, Clock::time_point now) const;

  LoginPolicy policy_;
  std::mutex mutex_;
  std::map<std::string, Entry> addresses_;
};

}  // namespace hostserver
