// Program entry: options, port (hardware or simulated bench), main window.
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "app/main_window.h"
#include "app/options.h"
#include "link/hardware_port.h"
#include "link/trace_port.h"
#include "sim/catalogue.h"

using namespace zuna;

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const std::optional<Options> parsed = parse_options(args, &error);
    if (!parsed) {
        std::fprintf(stderr, "zuna07 : %s\n", error.c_str());
        return 2;
    }
    const Options& opt = *parsed;
    if (opt.help) {
        std::fputs(usage_text().c_str(), stdout);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("ZUNA 07");

    // The data folder is needed before the port: the simulated module keeps its memory there.
    StationSettings settings;
    settings.data_dir = QString::fromStdString(opt.data_dir);

    std::unique_ptr<sim::SimSetup> bench;
    std::unique_ptr<Port> hardware;
    Port* port = nullptr;
    QStringList notices;
    if (opt.simulate) {
        sim::Faults faults;
        sim::parse_faults(opt.sim_faults, faults, nullptr);
        bench = std::make_unique<sim::SimSetup>(opt.sim_speed, faults, "");
        if (!opt.sim_family.empty())
            bench->fix_family(opt.sim_family);
        port = &bench->bench();
    } else {
        try {
            // The realtime guard speaks during a transfer: show its word once the transfer is over.
            hardware = open_hardware_port(opt.port, [](const std::string& m) {
                const QString text = QString::fromStdString(m);
                QTimer::singleShot(0, [text] { QMessageBox::warning(nullptr, "ZUNA 07", text); });
            });
        } catch (const PortError& e) {
            std::fprintf(stderr, "zuna07 : %s\n", e.what());
            // Started from a desktop there is no terminal to read: say it in a box too.
            if (QGuiApplication::platformName() != "offscreen" && QGuiApplication::platformName() != "minimal")
                QMessageBox::critical(nullptr, "ZUNA 07", QString::fromUtf8(e.what()));
            return 1;
        }
        port = hardware.get();
    }

    std::unique_ptr<TracePort> trace;
    if (!opt.trace.empty()) {
        try {
            trace = std::make_unique<TracePort>(*port, opt.trace);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "zuna07 : %s\n", e.what());
            return 1;
        }
        port = trace.get();
    }

    Station station(*port);
    Shell shell(station);
    shell.simulated = opt.simulate;
    if (auto* ppdev = dynamic_cast<PpdevPort*>(hardware.get()))
        shell.port_problem = [ppdev] { return ppdev->take_error(); };
    TForm1 form(shell, settings);
    if (bench) {
        // The simulated module keeps its memory in the data folder, as a real one keeps it in its chip.
        const std::string warning =
            bench->attach_module_file(QDir(form.data_dir()).filePath("module-simule.bin").toStdString());
        if (!warning.empty())
            notices << QString::fromStdString(warning);
        form.on_window_opening = [&](const std::string& family) { bench->window_opened(family); };
    }
    form.show();
    for (const QString& m : form.startup_messages() + notices)
        QMessageBox::warning(&form, "ZUNA 07", m);
    if (!form.FormActivate())
        return 0;
    return app.exec();
}
