// Where the Host Server finds its program folders ("procedures",
// "transactions") when not told: next to the program in a build tree, else
// in the installed layout's folder for them (for /usr/bin/quarl-hostserver,
// /usr/libexec/quarl).
#pragma once

#include <string>

namespace hostserver {

std::string default_program_folder(const std::string& name);

}  // namespace hostserver
