#pragma once
// Opening the line a run works on, for the windows and the command line
// alike: no window code here.
#include <memory>
#include <string>

#include "app/options.h"
#include "link/hardware_port.h"
#include "link/port_check.h"
#include "link/trace_port.h"
#include "sim/catalogue.h"

namespace zuna {

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

} // namespace zuna
