#pragma once
// The program's run after the command line is read: port (hardware or
// simulated bench), trace, main window, start-up prompts, event loop.
#include <QString>

#include "app/main_window.h"
#include "app/options.h"

class QApplication;

namespace zuna {

// Loads Qt's French texts (standard buttons, system dialogs) and makes French
// the default locale. Returns false when the translation file is missing.
bool install_french(QApplication& app);

// Runs the station in an existing QApplication; returns the exit code: 0 on a
// normal end, 1 when the port, the trace or the module is missing.
int run_station(QApplication& app, const Options& opt, StationSettings settings = {});

} // namespace zuna
