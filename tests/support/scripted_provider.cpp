#include "tests/support/scripted_provider.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "common/hostmsg.h"

namespace scripted {
namespace {

struct State {
  std::vector<std::string> connections{"HOST1", "HOST2"};
  bool configurable = false;
  bool configure_result = true;
  std::vector<std::string> configure_connections;
  bool configure_changes_connections = false;
  ProviderInfo info{8192, 8192, 0};
  std::map<std::string, uint8_t> failures;
  std::string last_error;
  Responder responder;
  std::chrono::milliseconds receive_delay{0};
  std::deque<Incoming> queue;
  std::vector<std::string> calls;
  std::vector<Sent> sent;
  std::string held;
  char host_sequence = '0';
  uint8_t next_handle = 1;
  int opened = 0;
};

std::recursive_mutex mutex;
State& state() {
  static State s;
  return s;
}

uint8_t failure(const char* step) {
  auto it = state().failures.find(step);
  return it == state().failures.end() ? 0 : it->second;
}

uint8_t p_open() {
  std::lock_guard lock(mutex);
  state().calls.push_back("open");
  if (uint8_t c = failure("open")) return c;
  ++state().opened;
  return 0;
}
uint8_t p_close() {
  std::lock_guard lock(mutex);
  state().calls.push_back("close");
  --state().opened;
  return 0;
}
uint8_t p_connect(uint8_t* handle, const char* name, int32_t) {
  std::lock_guard lock(mutex);
  state().calls.push_back(std::string("connect ") + (name ? name : ""));
  if (uint8_t c = failure("connect")) return c;
  *handle = state().next_handle++;
  return 0;
}
uint8_t p_disconnect(uint8_t) {
  std::lock_guard lock(mutex);
  state().calls.push_back("disconnect");
  return 0;
}
uint8_t p_get_info(uint8_t, ProviderInfo* info) {
  std::lock_guard lock(mutex);
  state().calls.push_back("get_info");
  *info = state().info;
  return 0;
}
uint8_t p_send(uint8_t, const char* buffer, uint16_t length, uint8_t timeout) {
  std::lock_guard lock(mutex);
  state().calls.push_back("send");
  if (uint8_t c = failure("send")) return c;
  std::string bytes(buffer, length);
  state().sent.push_back({bytes, timeout});
  if (state().responder)
    for (auto& in : state().responder(bytes)) state().queue.push_back(in);
  return 0;
}
uint8_t p_receive(uint8_t, char** data, uint16_t* length, uint8_t timeout) {
  std::chrono::milliseconds delay;
  {
    std::lock_guard lock(mutex);
    delay = state().queue.empty() ? std::chrono::milliseconds(0) : state().receive_delay;
  }
  if (delay.count() > 0) std::this_thread::sleep_for(delay);  // a slow host
  std::lock_guard lock(mutex);
  state().calls.push_back("receive " + std::to_string(timeout));
  if (uint8_t c = failure("receive")) return c;
  if (state().queue.empty()) return TELLIX_TIMEOUT;
  Incoming in = state().queue.front();
  state().queue.pop_front();
  if (in.kind == Incoming::Timeout) return TELLIX_TIMEOUT;
  if (in.kind == Incoming::Error) return TELLIX_ERROR;
  state().held = in.bytes;
  *data = state().held.data();
  *length = static_cast<uint16_t>(state().held.size());
  return 0;
}
uint8_t p_release(uint8_t) {
  std::lock_guard lock(mutex);
  state().calls.push_back("release");
  state().held.assign(state().held.size(), '\xEE');  // a lent message must not be read after release
  return 0;
}
uint8_t p_list(char* buffer, uint16_t size) {
  std::lock_guard lock(mutex);
  state().calls.push_back("list");
  if (uint8_t c = failure("list")) return c;
  size_t at = 0;
  for (const auto& name : state().connections) {
    if (at + name.size() + 2 > size) break;
    std::memcpy(buffer + at, name.c_str(), name.size() + 1);
    at += name.size() + 1;
  }
  if (size > 0) buffer[at < size ? at : size - 1] = '\0';
  return 0;
}
uint8_t p_last_error(char* buffer, uint16_t size) {
  std::lock_guard lock(mutex);
  if (size == 0) return TELLIX_ERROR;
  size_t n = std::min<size_t>(state().last_error.size(), size - 1u);
  std::memcpy(buffer, state().last_error.data(), n);
  buffer[n] = '\0';
  return 0;
}
uint8_t p_configure(void*) {
  std::lock_guard lock(mutex);
  state().calls.push_back("configure");
  if (state().configure_result && state().configure_changes_connections)
    state().connections = state().configure_connections;
  return state().configure_result ? 1 : 0;
}

}  // namespace

void reset() {
  std::lock_guard lock(mutex);
  state() = State{};
}
void set_connections(const std::vector<std::string>& names) {
  std::lock_guard lock(mutex);
  state().connections = names;
}
void set_configurable(bool configurable, bool configure_result) {
  std::lock_guard lock(mutex);
  state().configurable = configurable;
  state().configure_result = configure_result;
}
void set_configure_connections(const std::vector<std::string>& names) {
  std::lock_guard lock(mutex);
  state().configure_connections = names;
  state().configure_changes_connections = true;
}
void set_info(uint16_t a, uint16_t b, uint32_t value) {
  std::lock_guard lock(mutex);
  state().info = ProviderInfo{a, b, value};
}
void fail(const std::string& step, uint8_t code) {
  std::lock_guard lock(mutex);
  state().failures[step] = code;
}
void set_last_error(const std::string& text) {
  std::lock_guard lock(mutex);
  state().last_error = text;
}
void set_receive_delay(std::chrono::milliseconds delay) {
  std::lock_guard lock(mutex);
  state().receive_delay = delay;
}
void set_responder(Responder responder) {
  std::lock_guard lock(mutex);
  state().responder = std::move(responder);
}
void queue(const Incoming& incoming) {
  std::lock_guard lock(mutex);
  state().queue.push_back(incoming);
}
void queue_message(const std::string& bytes) { queue({Incoming::Message, bytes}); }
void queue_timeout() { queue({Incoming::Timeout, {}}); }
std::vector<std::string> calls() {
  std::lock_guard lock(mutex);
  return state().calls;
}
std::vector<Sent> sent() {
  std::lock_guard lock(mutex);
  return state().sent;
}
void clear_log() {
  std::lock_guard lock(mutex);
  state().calls.clear();
  state().sent.clear();
}
int open_count() {
  std::lock_guard lock(mutex);
  return state().opened;
}

std::string reply_seq(char sequence, unsigned type, unsigned code, const std::string& data, unsigned sub_id) {
  std::string message(quarl::hostmsg::kHeaderSize, '\0');
  quarl::hostmsg::write_header(message.data(),
                               {sequence, sub_id, type, code, static_cast<unsigned>(data.size())});
  return message + data;
}

std::string reply(unsigned type, unsigned code, const std::string& data, unsigned sub_id) {
  std::lock_guard lock(mutex);
  char sequence = state().host_sequence;
  state().host_sequence = quarl::hostmsg::next_sequence(sequence);
  return reply_seq(sequence, type, code, data, sub_id);
}

uint8_t load(ProviderTable* table) {
  std::lock_guard lock(mutex);
  state().calls.push_back("load");
  if (uint8_t c = failure("load")) return c;
  *table = ProviderTable{};
  table->open = p_open;
  table->close = p_close;
  table->connect = p_connect;
  table->disconnect = p_disconnect;
  table->get_info = p_get_info;
  table->send = p_send;
  table->receive = p_receive;
  table->release = p_release;
  table->list_connections = p_list;
  table->configure = state().configurable ? p_configure : nullptr;
  table->last_error = p_last_error;
  return 0;
}

}  // namespace scripted

extern "C" SCRIPTED_API uint8_t TellixProviderLoad(ProviderTable* table) { return scripted::load(table); }
extern "C" SCRIPTED_API void TellixProviderUnload() {
  std::lock_guard lock(scripted::mutex);
  scripted::state().calls.push_back("unload");
}
