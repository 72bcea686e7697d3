#pragma once
// The station's window tables: the shared dialogs created at start-up (in
// their fixed order) and the device windows behind the speed-bar items.
#include <QDialog>
#include <QString>
#include <memory>
#include <vector>

namespace zuna {

class Shell;

// Creates the shared dialogs in start-up order and registers them in the shell.
void create_start_windows(Shell& shell, QWidget* parent);

using WindowFactory = std::unique_ptr<QDialog> (*)(Shell& shell, QWidget* parent);

// One speed-bar item: the single place that names it, its window and the
// mechanism the bench plugs for it. A family adds its row here.
struct SpeedItem {
    const char* name;    // objectName, e.g. "SpeedItem1"
    const char* button;  // button caption ("\n" where it breaks)
    const char* hint;    // caption / hint
    const char* family;  // simulated mechanism plugged when it opens ("" for none)
    WindowFactory make;  // null while the window is not built (the item is then disabled)
};

// The nine items of the speed bar, left to right.
const std::vector<SpeedItem>& speed_items();

// Creates the window behind an item, or nullptr when that window is not
// built in this version (the item is then disabled).
std::unique_ptr<QDialog> make_device_window(const QString& item, Shell& shell, QWidget* parent);
bool device_window_available(const QString& item);

} // namespace zuna
