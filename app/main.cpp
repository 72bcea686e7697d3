// Program entry: reads the command line, then runs the station.
#include <QApplication>
#include <QStringList>
#include <clocale>
#include <cstdio>
#include <unistd.h>

#include "app/options.h"
#include "app/settings_command.h"
#include "app/station_config.h"
#include "app/station_main.h"
#include "link/port_check.h"

using namespace zuna;

namespace {

// What to say, in French, when the windows cannot be shown for want of a display.
std::string no_display_text(const char* why)
{
    return std::string("zuna07 : ") + why +
           " : la station a besoin d'un affichage graphique.\n"
           "Sans écran (session SSH, serveur), lancez-la dans un écran virtuel :\n"
           "    xvfb-run -a zuna07 --simulate\n"
           "ou employez les commandes sans fenêtre : zuna07 --save, --restore, --check-port (voir zuna07 --help).\n";
}

// A display server is needed unless Qt is told to draw elsewhere (offscreen, vnc...).
bool display_named()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland"))
        return true;
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// While the QApplication is made: Qt's platform messages are held back, and
// its fatal "could not load the Qt platform plugin" becomes the French text.
QtMessageHandler g_default_handler = nullptr;
QList<std::pair<QtMsgType, QString>> g_held;
void startup_handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtFatalMsg) {
        const std::string text = no_display_text("l'écran n'a pas pu être ouvert");
        std::fputs(text.c_str(), stderr);
        ::_exit(1);
    }
    if (context.category && QByteArray(context.category).startsWith("qt.qpa"))
        g_held.append({type, message});
    else
        g_default_handler(type, context, message);
}

} // namespace

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
    if (parsed->version) {
        std::fputs(version_text().c_str(), stdout);
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

    if (!display_named()) {
        std::fputs(no_display_text("aucun écran n'a été trouvé (DISPLAY et WAYLAND_DISPLAY sont vides)").c_str(),
                   stderr);
        return 1;
    }
    set_french_environment();
    g_default_handler = qInstallMessageHandler(startup_handler);
    QApplication app(argc, argv);
    qInstallMessageHandler(g_default_handler);
    for (const auto& [type, message] : g_held)
        g_default_handler(type, QMessageLogContext(), message);
    // The C library keeps its own numbers (a point before decimals) whatever the locale.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName("ZUNA 07");
    set_desktop_identity();
    if (!install_french(app))
        std::fputs("zuna07 : traductions de Qt absentes (paquet qt6-translations-l10n) : "
                   "certains boutons resteront en anglais.\n", stderr);
    return run_station(app, *parsed);
}
