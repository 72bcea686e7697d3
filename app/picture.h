#pragma once
// Decodes a JPEG file with libjpeg into a QImage. Anything that is not a
// readable JPEG (missing file, unreadable, truncated, another format) gives a
// null image: the main window then shows no picture.
#include <QImage>
#include <QString>

namespace zuna {

QImage load_jpeg(const QString& path);

} // namespace zuna
