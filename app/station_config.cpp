#include "app/station_config.h"

#include <QSettings>
#include <QStringList>
#include <memory>

#include "link/hardware_port.h"

namespace zuna {

std::optional<double> read_pause_floor(const QString& settings_file, std::string* error)
{
    const std::unique_ptr<QSettings> store =
        settings_file.isEmpty() ? std::make_unique<QSettings>("zuna07", "zuna07")
                                : std::make_unique<QSettings>(settings_file, QSettings::IniFormat);
    const QVariant value = store->value("port/pause_floor_ns");
    if (!value.isValid())
        return kDefaultPauseFloorNs;
    // "2,5" comes back from the file as a list of two texts.
    const QString text = value.canConvert<QStringList>() ? value.toStringList().join(",") : value.toString();
    std::string why;
    const std::optional<double> floor = parse_pause_floor(text.toStdString(), &why);
    if (!floor && error)
        *error = store->fileName().toStdString() + ", [port] pause_floor_ns : " + why;
    return floor;
}

} // namespace zuna
