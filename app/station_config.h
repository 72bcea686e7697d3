#pragma once
// Settings of the station's configuration file (~/.config/zuna07/zuna07.conf,
// where the data folder alias "zuna" is kept too) read before the port opens.
#include <QString>
#include <optional>
#include <string>

namespace zuna {

// [port] pause_floor_ns: the pauses' real-time floor, in ns per loop step;
// absent: 10. nullopt, with a French message naming the file and the value,
// when it is no number from 0 to 1000. settings_file empty: the user's file.
std::optional<double> read_pause_floor(const QString& settings_file, std::string* error);

} // namespace zuna
