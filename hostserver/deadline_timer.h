// One timer for every deadline of a connection.  The owner says which of
// its deadlines comes first and why (to log in, to finish a message, to
// take a reply, to send the next request); the timer waits for that one,
// and when it fires asks again: a deadline that has passed closes the
// owner with its reason, one that moved later is waited for anew.  Arming
// it again is cheap when nothing moved earlier.  Used on the owner's strand.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include <asio.hpp>

namespace hostserver {

class DeadlineTimer {
 public:
  using Clock = std::chrono::steady_clock;

  template <typename Executor>
  explicit DeadlineTimer(const Executor& strand) : timer_(strand) {}

  // Owner: std::optional<Clock::time_point> next_deadline(std::string& reason)
  // (an empty reason: only look again then), void close(std::string_view),
  // bool closing().
  template <typename Owner>
  void arm(const std::shared_ptr<Owner>& owner) {
    if (owner->closing()) return;
    std::string reason;
    auto at = owner->next_deadline(reason);
    if (!at || *at >= armed_for_) return;
    armed_for_ = *at;
    timer_.expires_at(*at);
    timer_.async_wait([this, owner](const asio::error_code& ec) {
      if (ec == asio::error::operation_aborted) return;
      armed_for_ = Clock::time_point::max();
      if (owner->closing()) return;
      std::string why;
      auto due = owner->next_deadline(why);
      if (due && *due <= Clock::now() && !why.empty()) {
        owner->close(why);
        return;
      }
      arm(owner);
    });
  }

  void cancel() { timer_.cancel(); }

 private:
  asio::steady_timer timer_;
  Clock::time_point armed_for_ = Clock::time_point::max();
};

}  // namespace hostserver
