// The modules of the Host Server, in the order they register and start.
// A new module: its own file with a make_*_module() function, and one line
// here.
#include "hostserver/module.h"

namespace hostserver {

std::unique_ptr<Module> make_control_module();
std::unique_ptr<Module> make_sql_module();
std::unique_ptr<Module> make_trancode_module();
std::unique_ptr<Module> make_procedure_module();

std::vector<std::unique_ptr<Module>> make_modules() {
  std::vector<std::unique_ptr<Module>> modules;
  modules.push_back(make_control_module());
  modules.push_back(make_sql_module());
  modules.push_back(make_trancode_module());
  modules.push_back(make_procedure_module());
  return modules;
}

}  // namespace hostserver
