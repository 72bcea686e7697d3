#pragma once
// The program's run after the command line is read: port (hardware or
// simulated bench), trace, main window, start-up prompts, event loop.
#include <QString>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "app/options.h"
#include "app/station_port.h"

class QApplication;

namespace zuna {

// Loads Qt's French texts (standard buttons, system dialogs) and makes French
// the default locale. Returns false when the translation file is missing.
bool install_french(QApplication& app);

// The application id of the menu entry (fr.zuna.Zuna07.desktop) and its icon.
extern const char kDesktopId[];
// Ties the running windows to the menu entry: the desktop file name (task
// bar grouping, Wayland app id) and the window icon in every size.
void set_desktop_identity();

// Before the QApplication is made: Qt reads the system locale (file dialogs'
// dates and sizes, its own formats) from LC_ALL, LC_* and LANG. Sets them to
// French for Qt, keeping the character set the user's environment gives.
void set_french_environment();

// Ends the run as SIGTERM, SIGINT or SIGHUP do: every dialog closes, a running
// transfer stops at its next safe point, nothing is asked; run_station then
// returns 0. station_quitting() tells the window code not to start anything.
void quit_station();
bool station_quitting();

// Runs the station in an existing QApplication; returns the exit code: 0 on a
// normal end (a signal included), 1 when the port, the trace or the module is missing.
int run_station(QApplication& app, const Options& opt, StationSettings settings = {});

} // namespace zuna
