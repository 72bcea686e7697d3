#pragma once
// Settings files (".zuna.json"): a Snapshot as JSON a person can read and
// edit. A file is checked against its family exactly as the station checks
// its own reads; anything unsound is refused with a French message naming
// the setting, and nothing of it is used.
#include <QByteArray>
#include <QString>
#include <optional>
#include <string>
#include <sys/types.h>

#include "settings/settings.h"

namespace zuna::settings {

constexpr const char* kSuffix = ".zuna.json";
constexpr qint64 kLargestFile = 4 << 20; // far above any mechanism's settings

QByteArray to_json(const Family& f, const Snapshot& s);
// What is wrong with a document as JSON, in French ("" when nothing): where
// it breaks (line and column), an invalid escape, or a name given twice in
// one object (the setting's name: a file cannot say two values for one).
std::string json_fault(const QByteArray& json);
// The family code a document names ("" when it is not a settings file).
std::string family_of(const QByteArray& json);
// Parses and checks a document of family f.
std::optional<Snapshot> from_json(const Family& f, const QByteArray& json, std::string* error);

// Reads a settings file once, whole: a regular file, or a pipe (a shell's
// "<(...)", standard input) read to its end within the same size and a
// bounded wait for each piece. A folder, a named FIFO or a device is
// refused: a FIFO nobody writes into would be waited for forever.
std::optional<QByteArray> read_settings_file(const QString& path, QString* error);

// Writes through a temporary file beside it, every write and the flush to
// the disk checked, then renamed over the old one: a file that cannot be
// written whole (full disk...) leaves the old one byte for byte and no
// temporary behind. Temporaries of this file that a killed save left are
// removed first. false with a French reason.
bool save_file(const QString& path, const Family& f, const Snapshot& s, QString* error);
std::optional<Snapshot> load_file(const QString& path, const Family& f, QString* error);

// Appends one line to the clone log beside a settings file ("<file>.csv",
// header first when new), every write checked; a line that cannot be
// written whole is taken back. false with a French reason.
bool append_log(const QString& settings_path, const std::string& family, const Outcome& o, QString* error);
QString log_path(const QString& settings_path);

// Test seam: the calls that put bytes on the disk for the two above
// (write(2) and fsync(2) when null). Tests make them fail as a full disk does.
struct DiskCalls {
    ssize_t (*write)(int fd, const void* data, size_t size) = nullptr;
    int (*fsync)(int fd) = nullptr;
};
extern DiskCalls disk_calls;

} // namespace zuna::settings
