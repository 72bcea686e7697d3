#pragma once
// The program's run after the command line is read: port (hardware or
// simulated bench), trace, main window, start-up prompts, event loop.
#include <QString>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "app/options.h"
#include "link/hardware_port.h"
#include "link/port_check.h"
#include "link/trace_port.h"
#include "sim/catalogue.h"

class QApplication;

namespace zuna {

// Loads Qt's French texts (standard buttons, system dialogs) and makes French
// the default locale. Returns false when the translation file is missing.
bool install_french(QApplication& app);

// The port a run works on: the simulated bench (its family fixed when the
// command line names one) or the hardware port, with the trace on top when
// asked. `port` is null and `error` says why, in French, when it could not be
// opened.
struct StationPort {
    std::unique_ptr<sim::SimSetup> bench;
    std::unique_ptr<Port> hardware;
    std::unique_ptr<TracePort> trace;
    Port* port = nullptr;
    std::string error;
    bool hardware_failed = false; // the error is the port's (not the trace's)
};
StationPort open_station_port(const Options& opt, RealtimeGuard::Notice notice);

// --simulate --check-port: the pause times, the line map and the module's
// measurement, on the bench as the options make it.
PortCheck check_simulated_port(const Options& opt);

// Runs the station in an existing QApplication; returns the exit code: 0 on a
// normal end, 1 when the port, the trace or the module is missing.
int run_station(QApplication& app, const Options& opt, StationSettings settings = {});

} // namespace zuna
