#pragma once
// Command line of the station.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zuna {

struct Options {
    bool help = false;
    bool version = false;       // --version: the station's and Qt's versions, then exit
    bool simulate = false;
    std::string sim_family;     // --simulate=FAMILY: that mechanism stays plugged
    std::string sim_faults;     // --sim-fault=LIST
    double sim_speed = 1.0;     // --sim-speed=X
    uint32_t sim_seed = 1;      // --sim-seed=N: seed of every random fault
    bool sim_pace_real = false; // --sim-pace=real: 1 µs of wall time per port access
    std::string port = "/dev/parport0";
    bool port_given = false;
    double pause_floor_ns = 10; // from the configuration file ([port] pause_floor_ns), not the command line
    std::string trace;          // --trace FILE
    std::string data_dir;       // --data-dir DIR
    bool check_port = false;    // --check-port [PORT]: diagnose the port (in port) and exit
    std::string save_file;      // --save FILE: read the mechanism into a settings file, no window
    std::string restore_file;   // --restore FILE: write a settings file into the mechanism, no window
    std::string family;         // --family F: the family of --save (c120, g13, ...)
    bool dry_run = false;       // --dry-run: --restore compares and writes nothing
};

// Parses argv (without argv[0]); on a bad command line returns nullopt and
// sets *error to a French message.
std::optional<Options> parse_options(const std::vector<std::string>& args, std::string* error);

std::string usage_text();
// The station's version (the one its main window shows).
const char* station_version();
// --version: "zuna07 1.25 (Qt 6.4.2)", with the Qt the program runs on.
std::string version_text();

} // namespace zuna
