#pragma once
// Settings files (".zuna.json"): a Snapshot as JSON a person can read and
// edit. A file is checked against its family exactly as the station checks
// its own reads; anything unsound is refused with a French message naming
// the setting, and nothing of it is used.
#include <QByteArray>
#include <QString>
#include <optional>
#include <string>

#include "settings/settings.h"

namespace zuna::settings {

constexpr const char* kSuffix = ".zuna.json";

QByteArray to_json(const Family& f, const Snapshot& s);
// The family code a document names ("" when it is not a settings file).
std::string family_of(const QByteArray& json);
// Parses and checks a document of family f.
std::optional<Snapshot> from_json(const Family& f, const QByteArray& json, std::string* error);

// Writes through a temporary file renamed over the old one: a file that
// cannot be written leaves the old one as it was. false with a French reason.
bool save_file(const QString& path, const Family& f, const Snapshot& s, QString* error);
std::optional<Snapshot> load_file(const QString& path, const Family& f, QString* error);

// Appends one line to the clone log beside a settings file ("<file>.csv",
// header first when new). false with a French reason.
bool append_log(const QString& settings_path, const std::string& family, const Outcome& o, QString* error);
QString log_path(const QString& settings_path);

} // namespace zuna::settings
