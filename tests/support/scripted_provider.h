// A communications provider whose behaviour a test scripts: it records what
// the client sends and answers from a queue or a responder.  Built as a
// shared library that "tellix.ini" can name and that the test links too, so
// both see the same state.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tellix/tellix.h"

#define SCRIPTED_API __attribute__((visibility("default")))

namespace scripted {

// One thing the provider's receive hands out.
struct Incoming {
  enum Kind { Message, Timeout, Error } kind = Message;
  std::string bytes;
};

struct Sent {
  std::string bytes;
  uint8_t timeout;
};

// Called with each message the client sends; returns what the host answers.
using Responder = std::function<std::vector<Incoming>(const std::string& sent)>;

SCRIPTED_API void reset();
SCRIPTED_API void set_connections(const std::vector<std::string>& names);
SCRIPTED_API void set_configurable(bool configurable, bool configure_result = true);
// The connection names offered after a configure that reports a change.
SCRIPTED_API void set_configure_connections(const std::vector<std::string>& names);
SCRIPTED_API void set_info(uint16_t size_a, uint16_t size_b, uint32_t value = 0);
// Steps that fail: "load", "open", "connect", "send", "receive".
SCRIPTED_API void fail(const std::string& step, uint8_t code = 1);
// The words the provider's last_error entry gives (empty: nothing to tell,
// as a provider that has only its result codes).
SCRIPTED_API void set_last_error(const std::string& text);
SCRIPTED_API void set_responder(Responder responder);
// Each receive that finds a message waits this long first, as a slow host's would.
SCRIPTED_API void set_receive_delay(std::chrono::milliseconds delay);
SCRIPTED_API void queue(const Incoming& incoming);
SCRIPTED_API void queue_message(const std::string& bytes);
SCRIPTED_API void queue_timeout();

// What happened, in order: "load", "open", "connect NAME", "get_info",
// "send", "receive T" (T the time-out), "release", "disconnect", "close",
// "unload", "configure", "list".
SCRIPTED_API std::vector<std::string> calls();
SCRIPTED_API std::vector<Sent> sent();
SCRIPTED_API void clear_log();
// Receives with an empty queue and no responder answer with a time-out.
SCRIPTED_API int open_count();

// A host reply: header with the host's own rolling sequence character.
SCRIPTED_API std::string reply(unsigned type, unsigned code, const std::string& data, unsigned sub_id = 0);
// The same with an explicit sequence character.
SCRIPTED_API std::string reply_seq(char sequence, unsigned type, unsigned code, const std::string& data,
                                   unsigned sub_id = 0);

// Fills a table directly, for tests that do not go through the shell.
SCRIPTED_API uint8_t load(ProviderTable* table);

}  // namespace scripted
