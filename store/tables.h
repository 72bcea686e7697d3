#pragma once
// Opens the two tables of the data folder for the whole run (creating them
// when missing) and hands them to the shell. Problems are returned as French
// messages; the program goes on without a table that could not be opened.
#include <QStringList>
#include <memory>

namespace zuna {
class Shell;
}

namespace zuna::store {

class Tables {
public:
    virtual ~Tables() = default;
};

// Keeps the opened tables alive; sets shell.models and shell.frequencies.
std::unique_ptr<Tables> open_tables(Shell& shell, const QString& data_dir, QStringList* messages);

} // namespace zuna::store
