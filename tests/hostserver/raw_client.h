// A raw HostMessage client over a real socket, for driving quarl-hostserver
// byte by byte (and sending it what no real client would).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rawclient {

// Points QUARL_BUILD_DIR at the build that holds this test program, unless
// it is set.
void use_own_build();

struct Msg {
  char sequence = 0;
  unsigned sub_id = 0, type = 0, code = 0;
  std::string data;
  char status() const { return data.empty() ? '\0' : data[0]; }
  // The first error item's index (0 when none).
  unsigned error_index() const;
  std::string error_text() const;
};

struct Column {
  std::string name;
  int type = 0;
  unsigned precision = 0, scale = 0, nullable = 0;
  bool operator==(const Column&) const = default;
};

struct Described {
  char status = 0;
  long long row_count = 0;
  unsigned markers = 0;
  std::vector<Column> columns;
  int messages = 0;
  Msg first;  // the first reply (error items for a failure)
};

// A value as it came on the wire (length fields and the CHAR flag byte
// removed), or nullopt for NULL.
using Row = std::vector<std::optional<std::string>>;

struct Fetched {
  std::vector<Row> rows;
  int fetches = 0;
  int messages = 0;
  size_t largest_message = 0;  // data bytes
  bool end_marker = false;
  Msg failure;  // set (status other than 0 and 5) when a fetch failed
};

class RawClient {
 public:
  // source: the local address to connect from ("127.0.0.2" is another
  // loopback address on Linux), empty for any.
  explicit RawClient(int port, int receive_buffer = 0, const std::string& source = {});
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  // False when the server has closed the link.
  bool send_bytes(std::string_view bytes);
  bool send_frame(std::string_view body);
  bool send(unsigned type, unsigned code, std::string_view data, unsigned sub_id = 7);
  std::optional<Msg> receive(int timeout_ms = 30000);
  // True when the server closes the link (whatever it sends before).
  bool closed_by_server(int timeout_ms = 30000);
  // Exactly n bytes of the stream (for the transaction listener), or
  // nullopt when the link ends or the time runs out first.
  std::optional<std::string> receive_bytes(size_t n, int timeout_ms = 30000);
  Msg request(unsigned type, unsigned code, std::string_view data = {}, unsigned sub_id = 7);

  Msg login(std::string_view text = "DEMO/DEMO.QUARL/CLIENTCONFIG.", unsigned size = 8192, unsigned code = 1);
  // A login that asks for long and binary values ("2", the ask); when the
  // reply grants them, the client reads and writes their forms from then on.
  Msg login_with_long_values(std::string_view text = "DEMO/DEMO.QUARL/CLIENTCONFIG.", unsigned size = 8192);
  bool long_values = false;
  std::string alloc(char autocommit = '1');  // the four-digit statement id
  // A statement request (one message) and its describe reply.
  Described statement(unsigned code, const std::string& id, std::string_view sql, std::string_view params = {},
                      unsigned count = 0);
  Described exec(const std::string& id, std::string_view sql) { return statement(9, id, sql); }
  // Reads a describe reply whose first message is given.
  Described describe(unsigned code, const Msg& first);
  // Fetches until the end of the result (or a failure).
  Fetched fetch_all(const std::string& id, const std::vector<Column>& columns, int most = 100000);

  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  char sequence_ = '9';
  std::string pending_;
};

// Parses row data; false when it does not follow the columns' wire forms.
// With long_values a character or binary value may come inline ("X", its
// bytes in the row) or left on the host ("L": the row holds the form's 21
// bytes as they came).
bool parse_rows(std::string_view data, const std::vector<Column>& columns, std::vector<Row>& rows, bool& end,
                bool long_values = false);

}  // namespace rawclient
