#include "app/station_main.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTimer>
#include <QSocketNotifier>
#include <QTranslator>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>
#include <memory>

#include "link/hardware_port.h"
#include "link/trace_port.h"
#include "sim/catalogue.h"

namespace zuna {

namespace {
int g_signal_pipe[2] = {-1, -1};
bool g_quit = false; // a signal came: a quit asked before the main loop runs is not lost

void on_signal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signal_pipe[1], &c, 1);
}

// SIGTERM, SIGINT and SIGHUP end the program as its window would: a running
// transfer stops at its next safe point and the port is released before exit.
void quit_on_signals(QApplication& app)
{
    if (g_signal_pipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signal_pipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signal_pipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char c;
        [[maybe_unused]] const ssize_t n = ::read(g_signal_pipe[0], &c, 1);
        g_quit = true;
        QCoreApplication::quit();
    });
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
}
} // namespace

bool install_french(QApplication& app)
{
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    auto* qt = new QTranslator(&app);
    if (!qt->load(QLocale(QLocale::French), "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qt;
        return false;
    }
    QApplication::installTranslator(qt);
    return true;
}

StationPort open_station_port(const Options& opt, RealtimeGuard::Notice notice)
{
    StationPort out;
    if (opt.simulate) {
        sim::Faults faults;
        sim::parse_faults(opt.sim_faults, faults, nullptr);
        out.bench = std::make_unique<sim::SimSetup>(opt.sim_speed, faults, "");
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

int run_station(QApplication& app, const Options& opt, StationSettings settings)
{
    // The data folder is needed before the port: the simulated module keeps its memory there.
    if (!opt.data_dir.empty())
        settings.data_dir = QString::fromStdString(opt.data_dir);

    QStringList notices;
    // The realtime guard speaks during a transfer: show its word once the transfer is over.
    StationPort opened = open_station_port(opt, [](const std::string& m) {
        const QString text = QString::fromStdString(m);
        // Said from the transfer thread: the box is shown by the window's thread.
        QMetaObject::invokeMethod(
            qApp, [text] { QMessageBox::warning(nullptr, "ZUNA 07", text); }, Qt::QueuedConnection);
    });
    if (!opened.port) {
        std::fprintf(stderr, "zuna07 : %s\n", opened.error.c_str());
        // Started from a desktop there is no terminal to read: say it in a box too.
        if (opened.hardware_failed && QGuiApplication::platformName() != "offscreen" &&
            QGuiApplication::platformName() != "minimal")
            QMessageBox::critical(nullptr, "ZUNA 07", QString::fromStdString(opened.error));
        return 1;
    }
    std::unique_ptr<sim::SimSetup>& bench = opened.bench;
    Port* port = opened.port;

    quit_on_signals(app);
    Station station(*port);
    Shell shell(station);
    shell.simulated = opt.simulate;
    if (auto* ppdev = dynamic_cast<PpdevPort*>(opened.hardware.get()))
        shell.port_problem = [ppdev] { return ppdev->take_error(); };
    TForm1 form(shell, settings);
    if (bench) {
        // The simulated module keeps its memory in the data folder, as a real one keeps it in its chip.
        const std::string warning =
            bench->attach_module_file(QDir(form.data_dir()).filePath("module-simule.bin").toStdString());
        if (!warning.empty())
            notices << QString::fromStdString(warning);
        form.on_window_opening = [&](const std::string& family) { bench->window_opened(family); };
        shell.plug_mechanism = [&](const std::string& family) { bench->window_opened(family); };
        shell.next_mechanism = [&] { bench->plug(bench->family()); };
    }
    form.show();
    for (const QString& m : form.startup_messages() + notices)
        QMessageBox::warning(&form, "ZUNA 07", m);
    // No module after the prompts: the station cannot work, and a script that
    // started it must see a failure.
    if (!form.FormActivate()) {
        std::fputs("zuna07 : aucun module ne répond sur le port.\n", stderr);
        return 1;
    }
    return g_quit ? 0 : app.exec();
}

} // namespace zuna
