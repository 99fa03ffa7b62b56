// Programs in a folder, run on behalf of requests: the host procedures and
// the transaction programs are both served this way.  A request names a
// program by parts (subfolders, then the program); each part is upper-cased
// and may hold only letters, digits, "_" and "-", so no name can climb out of
// the folder, and a symbolic link in the folder may lead only to a program
// inside it unless the operator allows links out.  The program runs in its
// folder with the request's input on standard input and a minimal
// environment; everything it starts is stopped when it ends, overruns its
// time limit or output bound, or when the request is cancelled (its client
// went away, the server stops).
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hostserver {

struct ProgramFolderOptions {
  std::string dir;  // empty: the default folder (see the constructor)
  std::chrono::seconds time_limit{10};
  size_t max_output = 1 << 20;
  // Symbolic links in the folder may lead to programs outside it.
  bool allow_links_out = false;
};

class ProgramFolder {
 public:
  // noun names the programs in messages ("Procedure", "Transaction");
  // default_dir names the folder used when options.dir is empty (next to the
  // server, else the installed demo programs: program_folders.h).
  ProgramFolder(std::string noun, std::string_view default_dir, ProgramFolderOptions options);

  const std::string& dir() const { return dir_; }
  std::chrono::seconds time_limit() const { return options_.time_limit; }

  // A name part as requests may give it (after upper-casing).
  static bool valid_part(std::string_view part);
  // "/"-separated parts, none of them empty, each valid.
  static bool valid_path(std::string_view name);

  enum class Lookup { Found, Missing, LeadsOutside };
  struct Found {
    Lookup lookup = Lookup::Missing;
    std::filesystem::path program;  // for Found: with every link resolved
  };
  // The program at relative (valid parts joined with "/").
  Found find(std::string_view relative) const;

  struct Call {
    std::filesystem::path program;  // from find()
    std::string shown;              // how messages name it: "DEMO/UPPER"
    std::vector<std::string> env;   // besides PATH and LC_ALL
    std::string input;
  };
  struct Answer {
    bool ok = false;
    std::string output;   // on success
    std::string message;  // on failure: the program's first error line, or ours
  };
  Answer run(const Call& call, const std::atomic<bool>* cancel) const;

 private:
  std::string noun_;
  std::string dir_;
  std::optional<std::filesystem::path> real_dir_;
  ProgramFolderOptions options_;
};

}  // namespace hostserver
