#pragma once
// French texts for the system errors an operator meets (port, files, disks).
#include <string>

namespace zuna {

// The cause of errno value err in French; an unexpected one is named with its
// number so that it can still be looked up.
std::string french_error(int err);

} // namespace zuna
