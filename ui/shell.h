#pragma once
// What a programmer window reaches of the main window: the station state, the
// two tables and the shared dialogs created at start-up (looked up by class).
#include <QDialog>
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "link/station.h"
#include "link/transfer_thread.h"

namespace zuna {
namespace store {
class ModelLibrary;
class FrequencyTable;
} // namespace store

class Shell {
public:
    explicit Shell(Station& s) : station(s) {}

    Station& station;
    // The one thread that touches the port while a link operation runs.
    TransferThread transfers;
    store::ModelLibrary* models = nullptr;      // null when mall7.dbf could not be opened
    store::FrequencyTable* frequencies = nullptr; // null when calib.dbf could not be opened
    bool simulated = false;
    // On the simulated bench: plugs a family's simulated mechanism (the
    // frequency window's searches); unset on a real port.
    std::function<void(const std::string& family)> plug_mechanism;
    // On the simulated bench: unplugs the mechanism and plugs a fresh one of
    // the same family (the next unit of a series); unset on a real port.
    std::function<void()> next_mechanism;
    // A failure of the port seen during the last transfers ("" when none); the
    // main window reports it when a window returns.
    std::function<std::string()> port_problem;

    // Shared dialogs, in their creation order.
    template <class T> T* dialog() const
    {
        for (QDialog* d : dialogs_)
            if (auto* t = qobject_cast<T*>(d))
                return t;
        return nullptr;
    }
    void add_dialog(QDialog* d) { dialogs_.push_back(d); }
    const std::vector<QDialog*>& dialogs() const { return dialogs_; }

    // Adds " - SIMULATION" to a window title on the simulated bench.
    QString title(const QString& caption) const { return simulated ? caption + " - SIMULATION" : caption; }

private:
    std::vector<QDialog*> dialogs_;
};

} // namespace zuna
