// Program entry: reads the command line, then runs the station.
#include <QApplication>
#include <cstdio>

#include "app/options.h"
#include "app/settings_command.h"
#include "app/station_config.h"
#include "app/station_main.h"
#include "link/port_check.h"

using namespace zuna;

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    std::optional<Options> parsed = parse_options(args, &error);
    if (!parsed) {
        std::fprintf(stderr, "zuna07 : %s\n", error.c_str());
        return 2;
    }
    if (parsed->help) {
        std::fputs(usage_text().c_str(), stdout);
        return 0;
    }

    // A floor the configuration file gets wrong stops every run before the port is touched.
    const std::optional<double> floor = read_pause_floor({}, &error);
    if (!floor) {
        std::fprintf(stderr, "zuna07 : %s\n", error.c_str());
        return 2;
    }
    parsed->pause_floor_ns = *floor;

    if (parsed->check_port) {
        const PortCheck check = parsed->simulate ? check_simulated_port(*parsed)
                                                 : check_port(parsed->port, real_syscalls(), *floor);
        std::fputs(format_check(parsed->port, check).c_str(), stdout);
        return check.claimed && check.module_answers ? 0 : 1;
    }

    // Settings files from the command line: no window, no display needed.
    if (!parsed->save_file.empty() || !parsed->restore_file.empty())
        return run_settings_command(*parsed);

    QApplication app(argc, argv);
    QApplication::setApplicationName("ZUNA 07");
    if (!install_french(app))
        std::fputs("zuna07 : traductions de Qt absentes (paquet qt6-translations-l10n) : "
                   "certains boutons resteront en anglais.\n", stderr);
    return run_station(app, *parsed);
}
