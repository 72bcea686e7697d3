#pragma once
// Decodes a JPEG file with libjpeg into a QImage. Anything that is not a
// readable JPEG (missing file, unreadable, truncated, another format) gives a
// null image: the main window then shows no picture.
#include <QImage>
#include <QString>
#include <QStringList>

namespace zuna {

QImage load_jpeg(const QString& path);

// Where "nri.jpg" is looked for: the working directory first (a picture put
// there replaces the installed one), then the program's data folder next to
// its installed binary (../share/zuna07 from bin/).
QStringList picture_dirs();

// The first dirs/nri.jpg that exists (readable or not: a broken picture in
// the working directory is not silently replaced); empty when none does.
QString find_picture(const QStringList& dirs);

} // namespace zuna
