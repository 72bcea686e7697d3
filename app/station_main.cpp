#include "app/station_main.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
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

// SIGTERM, SIGINT and SIGHUP end the program, asking nothing: the handler
// writes to a socket that the window thread reads between events, and ends
// the run there (quit_station).
void quit_on_signals(QApplication& app)
{
    // Once per program: one notifier per socket (a second run in the same
    // program keeps the first one).
    if (g_signal_pipe[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signal_pipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signal_pipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char c[16];
        while (::read(g_signal_pipe[0], c, sizeof c) > 0) {
        }
        quit_station();
    });
}

// The signals that end a run, caught for the run's length.
class SignalsEndTheRun {
public:
    explicit SignalsEndTheRun(QApplication& app)
    {
        quit_on_signals(app);
        struct sigaction sa {};
        sa.sa_handler = on_signal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        for (int i = 0; i < 3; ++i)
            ::sigaction(kSignals[i], &sa, &before_[i]);
    }
    ~SignalsEndTheRun()
    {
        for (int i = 0; i < 3; ++i)
            ::sigaction(kSignals[i], &before_[i], nullptr);
    }
    SignalsEndTheRun(const SignalsEndTheRun&) = delete;
    SignalsEndTheRun& operator=(const SignalsEndTheRun&) = delete;

private:
    static constexpr int kSignals[3] = {SIGTERM, SIGINT, SIGHUP};
    struct sigaction before_[3] {};
};
} // namespace

void quit_station()
{
    g_quit = true;
    // Not quit(): it does nothing before the main loop runs and asks every
    // window to close, and a window with a running transfer asks the operator
    // first. exit() ends every event loop running (modal dialogs and message
    // boxes, nested or not, a transfer's wait, which then stops the transfer
    // at its next safe point) and any loop started later returns at once.
    QCoreApplication::exit(0);
}

bool station_quitting() { return g_quit; }

const char kDesktopId[] = "fr.zuna.Zuna07";

void set_desktop_identity()
{
    QGuiApplication::setDesktopFileName(kDesktopId);
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QString(":/icons/%1x%1/%2.png").arg(size).arg(kDesktopId), QSize(size, size));
    QApplication::setWindowIcon(icon);
}

void set_french_environment()
{
    // The character set stays the user's: LC_ALL goes, its value kept for LC_CTYPE.
    const QByteArray all = qgetenv("LC_ALL");
    if (!all.isEmpty() && qEnvironmentVariableIsEmpty("LC_CTYPE"))
        qputenv("LC_CTYPE", all);
    qunsetenv("LC_ALL");
    for (const char* name : {"LC_NUMERIC", "LC_TIME", "LC_MONETARY", "LC_MESSAGES", "LC_MEASUREMENT", "LC_COLLATE"})
        qputenv(name, "fr_FR.UTF-8");
    qputenv("LANGUAGE", "fr");
}

namespace {
// Qt texts that its French translation file lacks (the file dialogs' type
// column); asked after Qt's own translator, which knows every other text.
class MissingFrench : public QTranslator {
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* source, const char* disambiguation, int n) const override
    {
        Q_UNUSED(disambiguation);
        Q_UNUSED(n);
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0)
            return {};
        static const std::pair<const char*, const char*> texts[] = {
            {"Folder", "Dossier"}, {"Drive", "Lecteur"}, {"Alias", "Alias"},
            {"Shortcut", "Raccourci"}, {"Unknown", "Inconnu"},
        };
        for (const auto& [en, fr] : texts)
            if (qstrcmp(source, en) == 0)
                return QString::fromUtf8(fr);
        return {};
    }
};
} // namespace

bool install_french(QApplication& app)
{
    QApplication::installTranslator(new MissingFrench(&app));
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    auto* qt = new QTranslator(&app);
    if (!qt->load(QLocale(QLocale::French), "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qt;
        return false;
    }
    QApplication::installTranslator(qt);
    return true;
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

    g_quit = false;
    const SignalsEndTheRun catching(app);
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
    const bool module = !g_quit && form.FormActivate();
    if (g_quit) {
        // A signal ended the run before the main loop: Qt keeps that exit
        // pending for every loop started later, until a main loop has run.
        QTimer::singleShot(0, &app, [] { QCoreApplication::exit(0); });
        app.exec();
        return 0; // the program did what it was asked
    }
    if (!module) {
        std::fputs("zuna07 : aucun module ne répond sur le port.\n", stderr);
        return 1;
    }
    const int code = app.exec();
    return g_quit ? 0 : code;
}

} // namespace zuna
