#include "hostserver/login_guard.h"

#include <algorithm>

namespace hostserver {

void LoginGuard::forget_old(Entry& e, Clock::time_point now) const {
  while (!e.failures.empty() && now - e.failures.front() >= policy_.window) e.failures.pop_front();
}

LoginGuard::Clock::duration LoginGuard::locked_for(const std::string& address, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  auto it = addresses_.find(address);
  if (it == addresses_.end() || it->second.locked_until <= now) return Clock::duration::zero();
  return it->second.locked_until - now;
}

bool LoginGuard::record_failure(const std::string& address, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  auto it = addresses_.find(address);
  if (it == addresses_.end()) {
    if (addresses_.size() >= kMaxAddresses) {
      // Room for the newcomer: forget the address whose last failure is
      // oldest, unless it is locked out (then the one after it).
      auto victim = addresses_.end();
      for (auto e = addresses_.begin(); e != addresses_.end(); ++e)
        if (e->second.locked_until <= now && (victim == addresses_.end() || e->second.last < victim->second.last))
          victim = e;
      if (victim == addresses_.end()) victim = addresses_.begin();
      addresses_.erase(victim);
    }
    it = addresses_.emplace(address, Entry{}).first;
  }
  Entry& e = it->second;
  forget_old(e, now);
  e.failures.push_back(now);
  e.last = now;
  if (e.failures.size() < policy_.per_address) return false;
  e.failures.clear();
  e.locked_until = now + policy_.lockout;
  return true;
}

std::chrono::milliseconds LoginGuard::delay(unsigned failures) const {
  auto d = policy_.first_delay;
  for (unsigned i = 1; i < failures && d < policy_.max_delay; ++i) d *= 2;
  return std::min(d, policy_.max_delay);
}

}  // namespace hostserver
