#pragma once
// "Fiche de réglage": a one- or two-page PDF for the service record: the
// family, what the mechanism says of itself, the date, the PC's name, the
// channel table as the window shows it, outputs and options, the band
// picture with the overlapping channels named, and a box the workshop fills
// in by hand (technician, machine, date of fitting, signature).
#include <QImage>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

#include "settings/bands.h"

namespace zuna {

struct Sheet {
    QString family;                                 // "C120", "NRI G13.0000"
    std::vector<std::pair<QString, QString>> facts; // identity, mode, delay count...
    QStringList columns;                            // channel table header
    std::vector<QStringList> rows;                  // as the window shows them
    std::vector<std::pair<QString, QString>> options; // outputs and options
    settings::BandSet bands;                        // drawn as the band picture
    // The mechanism's own number where the family reads one ("non lu" before
    // a read); without one the workshop box leaves a line to write it.
    std::optional<QString> identity;
};

// Writes the PDF; false with a French reason. The date and the PC's name are
// added here.
bool write_sheet(const QString& path, const Sheet& sheet, QString* error);

} // namespace zuna
