#pragma once
// The families the station saves and restores, by the names of the command
// line (c120, g13, ...) and by their model type codes.
#include <memory>
#include <string>

#include "settings/settings.h"

namespace zuna {

std::unique_ptr<settings::Family> make_settings_family(const std::string& name);
// The command-line name of a type code ("" when none).
std::string family_of_code(const std::string& code);

} // namespace zuna
