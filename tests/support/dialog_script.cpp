#include "tests/support/dialog_script.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <sstream>
#include <stdexcept>

namespace testsupport {
namespace {

constexpr const char* kVariable = "QUARL_DIALOG_SCRIPT";

// Reads a quoted text at pos (which points at the opening quote).
std::string read_quoted(const std::string& line, size_t& pos) {
  std::string out;
  for (++pos; pos < line.size() && line[pos] != '"'; ++pos) {
    if (line[pos] == '\\' && pos + 1 < line.size()) {
      ++pos;
      out += line[pos] == 'n' ? '\n' : line[pos];
    } else {
      out += line[pos];
    }
  }
  ++pos;
  return out;
}

std::vector<std::string> snapshot_lines(const std::string& transcript, size_t n) {
  std::istringstream in(transcript);
  std::string line;
  size_t seen = 0;
  bool inside = false;
  std::vector<std::string> out;
  while (std::getline(in, line)) {
    if (line == "> snapshot") {
      if (inside) break;
      inside = seen++ == n;
      continue;
    }
    if (inside) {
      if (line.rfind("  ", 0) != 0) break;
      out.push_back(line.substr(2));
    }
  }
  if (!inside && out.empty()) throw std::runtime_error("no snapshot " + std::to_string(n) + " in:\n" + transcript);
  return out;
}

}  // namespace

DialogScript::DialogScript(int dialog, const std::vector<std::string>& steps) {
  std::string text = "quarl-dialog-script 1\ndialog " + std::to_string(dialog) + "\ntranscript " +
                     (dir_ / "transcript").string() + "\n";
  for (const auto& step : steps) text += step + "\n";
  write_file(file(), text);
  ::chmod(file().c_str(), 0600);
  if (const char* old = std::getenv(kVariable)) {
    saved_ = old;
    had_saved_ = true;
  }
  ::setenv(kVariable, file().c_str(), 1);
}

DialogScript::~DialogScript() {
  if (had_saved_) ::setenv(kVariable, saved_.c_str(), 1);
  else ::unsetenv(kVariable);
}

std::string DialogScript::transcript() const { return read_file(dir_ / "transcript"); }

std::map<int, ControlState> DialogScript::snapshot(size_t n) const {
  std::map<int, ControlState> controls;
  for (const std::string& line : snapshot_lines(transcript(), n)) {
    if (line.rfind("focus ", 0) == 0) continue;
    std::istringstream words(line);
    int id = 0;
    ControlState c;
    std::string state;
    words >> id >> c.kind >> state;
    c.enabled = state == "enabled";
    size_t pos = line.find(" text=\"");
    if (pos == std::string::npos) continue;
    pos += 6;
    c.text = read_quoted(line, pos);
    const size_t rest = pos;  // the fields after the text
    if ((pos = line.find(" limit=", rest)) != std::string::npos) c.limit = std::stoi(line.substr(pos + 7));
    if ((pos = line.find(" selection=", rest)) != std::string::npos) c.selection = std::stoi(line.substr(pos + 11));
    if ((pos = line.find(" items=[", rest)) != std::string::npos) {
      pos += 8;
      while (pos < line.size() && line[pos] == '"') {
        c.items.push_back(read_quoted(line, pos));
        if (pos < line.size() && line[pos] == ',') ++pos;
      }
    }
    controls[id] = c;
  }
  return controls;
}

int DialogScript::snapshot_focus(size_t n) const {
  for (const std::string& line : snapshot_lines(transcript(), n))
    if (line.rfind("focus ", 0) == 0) return std::stoi(line.substr(6));
  return 0;
}

}  // namespace testsupport
