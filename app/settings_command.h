#pragma once
// `zuna07 --save` and `zuna07 --restore`: a settings file read from or
// written into the plugged mechanism without any window, for scripts and
// production benches. Exit codes: 0 everything holds, 1 a write did not
// verify or the mechanism did not answer (or, on a dry run, differs), 2 a
// bad file or option.
#include "app/options.h"

namespace zuna {

int run_settings_command(const Options& opt);

} // namespace zuna
