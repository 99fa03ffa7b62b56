// The demo database: a few related tables (primary and foreign keys,
// indexes, a view) whose columns cover every host type, with enough rows to
// page through many fetch blocks.  Created once; later starts reuse it.
#include <filesystem>

#include "common/platform/system.h"
#include "hostserver/sql_session.h"

namespace hostserver {
namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE departments (
  dept_id   SMALLINT PRIMARY KEY,
  dept_code CHAR(4) NOT NULL UNIQUE,
  name      VARCHAR(40) NOT NULL,
  budget    NUMERIC(9,2),
  active    BIT NOT NULL DEFAULT 1,
  founded   DATE
);
CREATE TABLE employees (
  emp_id      INTEGER PRIMARY KEY,
  dept_id     SMALLINT NOT NULL REFERENCES departments(dept_id),
  badge       CHAR(6) NOT NULL,
  last_name   VARCHAR(30) NOT NULL,
  first_name  VARCHAR(30),
  salary      NUMERIC(8,2),
  rating      DOUBLE,
  hired       DATE,
  shift_start TIME,
  last_login  TIMESTAMP,
  is_manager  BIT,
  notes       LONGVARCHAR
);
CREATE INDEX employees_dept ON employees(dept_id);
CREATE INDEX employees_name ON employees(last_name, first_name);
CREATE TABLE projects (
  project_id INTEGER PRIMARY KEY,
  dept_id    SMALLINT REFERENCES departments(dept_id),
  title      VARCHAR(60) NOT NULL,
  started    DATE,
  deadline   TIMESTAMP,
  budget     NUMERIC(9,2)
);
CREATE TABLE assignments (
  emp_id     INTEGER NOT NULL REFERENCES employees(emp_id) ON DELETE CASCADE,
  project_id INTEGER NOT NULL REFERENCES projects(project_id),
  hours      DOUBLE,
  role       VARCHAR(20),
  PRIMARY KEY (emp_id, project_id)
);
CREATE VIEW employee_overview AS
  SELECT e.emp_id, e.last_name, e.first_name, d.name AS department
  FROM employees e JOIN departments d ON d.dept_id = e.dept_id;
)sql";

constexpr int kEmployees = 2000;
constexpr int kProjects = 40;

const char* const kDepartments[][2] = {{"ACCT", "Accounting"}, {"ENGR", "Engineering"}, {"SALE", "Sales"},
                                       {"SUPP", "Support"},    {"LEGL", "Legal"},       {"RSCH", "Research"},
                                       {"FACL", "Facilities"}, {"HUMR", "Human Resources"}};
const char* const kLast[] = {"Smith", "Jones", "Garcia", "Miller", "Davis", "Lopez", "Wilson", "Moore",
                             "Taylor", "Thomas", "Hernandez", "Martin", "Jackson", "Thompson", "White", "Harris"};
const char* const kFirst[] = {"Anna", "Ben", "Carla", "David", "Eva", "Frank", "Grace", "Hugo",
                              "Ines", "Jonas", "Karin", "Leo", "Mona", "Nils", "Olga", "Paul"};

// A small deterministic generator, so that every demo database is the same.
struct Lcg {
  uint32_t state = 20240601;
  uint32_t next(uint32_t bound) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % bound;
  }
};

bool run(sqlite3* db, const char* sql, std::string& error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  error = message ? message : "unknown failure";
  sqlite3_free(message);
  return false;
}

bool insert_rows(sqlite3* db, std::string& error) {
  Lcg rnd;
  auto prepare = [&](const char* sql) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
    return StmtPtr(s);
  };
  auto bind_text = [](sqlite3_stmt* s, int i, const std::string& v) {
    sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  };
  auto step = [&](sqlite3_stmt* s) {
    bool ok = sqlite3_step(s) == SQLITE_DONE;
    if (!ok) error = sqlite3_errmsg(db);
    sqlite3_reset(s);
    return ok;
  };
  char buf[64];

  StmtPtr dept = prepare("INSERT INTO departments VALUES (?,?,?,?,?,?)");
  for (int i = 0; i < 8; ++i) {
    sqlite3_bind_int(dept.get(), 1, 10 * (i + 1));
    bind_text(dept.get(), 2, kDepartments[i][0]);
    bind_text(dept.get(), 3, kDepartments[i][1]);
    sqlite3_bind_double(dept.get(), 4, 250000.0 + 12500.5 * i);
    sqlite3_bind_int(dept.get(), 5, i != 6);
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", 1990 + 3 * i, 1 + i, 1 + 3 * i);
    bind_text(dept.get(), 6, buf);
    if (!step(dept.get())) return false;
  }

  StmtPtr emp = prepare("INSERT INTO employees VALUES (?,?,?,?,?,?,?,?,?,?,?,?)");
  for (int id = 1; id <= kEmployees; ++id) {
    sqlite3_stmt* s = emp.get();
    sqlite3_bind_int(s, 1, id);
    sqlite3_bind_int(s, 2, 10 * (1 + static_cast<int>(rnd.next(8))));
    std::snprintf(buf, sizeof buf, "B%05d", id);
    bind_text(s, 3, buf);
    bind_text(s, 4, kLast[rnd.next(16)]);
    if (id % 50 == 0) sqlite3_bind_null(s, 5);
    else bind_text(s, 5, kFirst[rnd.next(16)]);
    std::snprintf(buf, sizeof buf, "%d.%02d", 30000 + static_cast<int>(rnd.next(90000)), static_cast<int>(rnd.next(100)));
    if (id % 37 == 0) sqlite3_bind_null(s, 6);
    else bind_text(s, 6, buf);
    sqlite3_bind_double(s, 7, static_cast<double>(rnd.next(5000)) / 1000.0);
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", 1995 + static_cast<int>(rnd.next(30)),
                  1 + static_cast<int>(rnd.next(12)), 1 + static_cast<int>(rnd.next(28)));
    bind_text(s, 8, buf);
    std::snprintf(buf, sizeof buf, "%02d:%02d:00", 6 + static_cast<int>(rnd.next(12)), 15 * static_cast<int>(rnd.next(4)));
    bind_text(s, 9, buf);
    std::snprintf(buf, sizeof buf, "2024-%02d-%02d %02d:%02d:%02d.%06d", 1 + static_cast<int>(rnd.next(12)),
                  1 + static_cast<int>(rnd.next(28)), static_cast<int>(rnd.next(24)), static_cast<int>(rnd.next(60)),
                  static_cast<int>(rnd.next(60)), static_cast<int>(rnd.next(1000000)));
    if (id % 10 == 0) sqlite3_bind_null(s, 10);
    else bind_text(s, 10, buf);
    sqlite3_bind_int(s, 11, id % 25 == 1);
    if (id % 3 == 0) {
      std::string notes = "Employee " + std::to_string(id) + " joined the team; reviews on file.";
      bind_text(s, 12, notes);
    } else {
      sqlite3_bind_null(s, 12);
    }
    if (!step(s)) return false;
  }

  StmtPtr project = prepare("INSERT INTO projects VALUES (?,?,?,?,?,?)");
  for (int id = 1; id <= kProjects; ++id) {
    sqlite3_stmt* s = project.get();
    sqlite3_bind_int(s, 1, id);
    sqlite3_bind_int(s, 2, 10 * (1 + id % 8));
    bind_text(s, 3, "Project " + std::to_string(id));
    std::snprintf(buf, sizeof buf, "2023-%02d-%02d", 1 + id % 12, 1 + id % 28);
    bind_text(s, 4, buf);
    std::snprintf(buf, sizeof buf, "2025-%02d-%02d 17:00:00", 1 + id % 12, 1 + id % 28);
    bind_text(s, 5, buf);
    sqlite3_bind_double(s, 6, 10000.0 * id + 0.25);
    if (!step(s)) return false;
  }

  StmtPtr assign = prepare("INSERT OR IGNORE INTO assignments VALUES (?,?,?,?)");
  const char* roles[] = {"lead", "developer", "analyst", "reviewer"};
  for (int i = 0; i < 2 * kEmployees; ++i) {
    sqlite3_stmt* s = assign.get();
    sqlite3_bind_int(s, 1, 1 + static_cast<int>(rnd.next(kEmployees)));
    sqlite3_bind_int(s, 2, 1 + static_cast<int>(rnd.next(kProjects)));
    sqlite3_bind_double(s, 3, static_cast<double>(rnd.next(400)) / 4.0);
    bind_text(s, 4, roles[rnd.next(4)]);
    if (!step(s)) return false;
  }
  return true;
}

}  // namespace

std::string default_demo_path() {
  namespace fs = std::filesystem;
  fs::path base;
  if (auto data = quarl::platform::environment("XDG_DATA_HOME"); data && !data->empty()) base = *data;
  else if (auto home = quarl::platform::environment("HOME"); home && !home->empty())
    base = fs::path(*home) / ".local" / "share";
  else base = fs::temp_directory_path();
  return (base / "quarl" / "demo.sqlite").string();
}

bool ensure_demo_database(const std::string& path, std::string& error) {
  std::error_code ec;
  auto parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    error = "cannot open demo database " + path + ": " + sqlite3_errmsg(db);
    sqlite3_close_v2(db);
    return false;
  }
  sqlite3_busy_timeout(db, 10000);
  bool ok = run(db, "PRAGMA journal_mode=WAL", error) && run(db, "BEGIN IMMEDIATE", error);
  if (ok) {
    // Servers starting at once: the first one in creates, the others find the tables.
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_schema WHERE name='employees'", -1, &s, nullptr);
    bool present = sqlite3_step(s) == SQLITE_ROW;
    sqlite3_finalize(s);
    if (!present) ok = run(db, kSchema, error) && insert_rows(db, error);
    ok = ok ? run(db, "COMMIT", error) : (run(db, "ROLLBACK", error), false);
  }
  if (!ok) error = "cannot create the demo database " + path + ": " + error;
  sqlite3_close_v2(db);
  return ok;
}

}  // namespace hostserver
