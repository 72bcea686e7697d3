#include "app/station_port.h"

#include "link/sys_seam.h"

namespace zuna {

StationPort open_station_port(const Options& opt, RealtimeGuard::Notice notice)
{
    StationPort out;
    if (opt.simulate) {
        sim::Faults faults;
        sim::parse_faults(opt.sim_faults, faults, nullptr);
        faults.seed = opt.sim_seed;
        out.bench = std::make_unique<sim::SimSetup>(opt.sim_speed, faults, "");
        out.bench->set_pause_floor_ns(opt.pause_floor_ns); // real time: the bench's pauses keep it too
        if (!opt.sim_family.empty())
            out.bench->fix_family(opt.sim_family);
        if (opt.sim_pace_real)
            out.bench->pace_real_time();
        out.port = &out.bench->bench();
    } else {
        try {
            out.hardware = open_hardware_port(opt.port, std::move(notice), opt.pause_floor_ns);
        } catch (const PortError& e) {
            out.error = std::string(e.what()) +
                        "\nDiagnostic détaillé, une ligne par vérification : zuna07 --check-port " + opt.port;
            out.hardware_failed = true;
            return out;
        }
        out.port = out.hardware.get();
    }
    if (!opt.trace.empty()) {
        try {
            out.trace = std::make_unique<TracePort>(*out.port, opt.trace);
        } catch (const std::exception& e) {
            out.error = e.what();
            out.port = nullptr;
            return out;
        }
        out.port = out.trace.get();
    }
    return out;
}

PortCheck check_simulated_port(const Options& opt)
{
    PortCheck check;
    check.simulated = true;
    StationPort opened = open_station_port(opt, {});
    if (!opened.port) {
        check.lines.push_back({CheckLine::Verdict::Failed, opened.error});
        return check;
    }
    check.claimed = true;
    check_open_port(*opened.port, real_syscalls(), opt.pause_floor_ns, false, check);
    return check;
}

} // namespace zuna
