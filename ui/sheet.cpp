#include "ui/sheet.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QSysInfo>

#include "ui/band_view.h"

namespace zuna {

namespace {

// Draws the sheet page by page; y is in device units of the PDF (1200 dpi
// would make fonts huge: the writer is set to 300 dpi).
class Pages {
public:
    Pages(QPdfWriter& w, QPainter& p) : writer_(w), painter_(p)
    {
        width_ = p.viewport().width();
        height_ = p.viewport().height();
    }
    int width() const { return width_; }
    int left() const { return height_ - y_; }
    // Room for h more units, or a new page (at most two pages: the rest is cut and said).
    bool room(int h)
    {
        if (y_ + h <= height_)
            return true;
        if (page_ == 2)
            return false;
        writer_.newPage();
        ++page_;
        y_ = 0;
        return true;
    }
    int y_ = 0;
    int page_ = 1;

private:
    QPdfWriter& writer_;
    QPainter& painter_;
    int width_ = 0;
    int height_ = 0;
};

} // namespace

bool write_sheet(const QString& path, const Sheet& sheet, QString* error)
{
    {
        // QPdfWriter says nothing when it cannot write: try the file first.
        QFile probe(path);
        if (!probe.open(QIODevice::WriteOnly)) {
            if (error)
                *error = "Impossible d'écrire " + path + " : " + probe.errorString();
            return false;
        }
    }
    QPdfWriter writer(path);
    writer.setResolution(300);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    writer.setTitle("Fiche de réglage " + sheet.family);
    writer.setCreator("ZUNA 07");
    QPainter painter;
    if (!painter.begin(&writer)) {
        if (error)
            *error = "Impossible d'écrire " + path + ".";
        return false;
    }
    Pages pages(writer, painter);
    const int w = pages.width();

    QFont title("DejaVu Sans", 16, QFont::Bold);
    QFont body("DejaVu Sans", 9);
    QFont small("DejaVu Sans", 7);
    QFont bold = body;
    bold.setBold(true);

    painter.setFont(title);
    const int title_h = QFontMetrics(title, &writer).height();
    painter.drawText(QRect(0, pages.y_, w, title_h), Qt::AlignLeft, "Fiche de réglage — " + sheet.family);
    pages.y_ += title_h + 30;

    painter.setFont(body);
    const int line = QFontMetrics(body, &writer).height();
    std::vector<std::pair<QString, QString>> facts = sheet.facts;
    facts.insert(facts.begin(), {"Date", QDateTime::currentDateTime().toString("dd/MM/yyyy HH:mm")});
    facts.insert(facts.begin() + 1, {"Poste", QSysInfo::machineHostName()});
    for (const auto& [name, value] : facts) {
        painter.setFont(bold);
        painter.drawText(QRect(0, pages.y_, w / 3, line), Qt::AlignLeft, name);
        painter.setFont(body);
        painter.drawText(QRect(w / 3, pages.y_, w * 2 / 3, line), Qt::AlignLeft, value);
        pages.y_ += line;
    }
    pages.y_ += line;

    // The channel table as the window shows it.
    if (!sheet.columns.isEmpty()) {
        const QFont& f = sheet.columns.size() > 10 ? small : body;
        const int row_h = QFontMetrics(f, &writer).height() + 8;
        const int col_w = w / int(sheet.columns.size());
        auto draw_row = [&](const QStringList& cells, bool header) {
            painter.setFont(header ? bold : f);
            for (int c = 0; c < cells.size() && c < sheet.columns.size(); ++c) {
                const QRect cell(c * col_w, pages.y_, col_w, row_h);
                if (header)
                    painter.fillRect(cell, QColor(225, 225, 225));
                painter.drawRect(cell);
                painter.drawText(cell.adjusted(6, 0, -6, 0), Qt::AlignVCenter | Qt::AlignHCenter, cells[c]);
            }
            pages.y_ += row_h;
        };
        if (pages.room(row_h * 2)) {
            draw_row(sheet.columns, true);
            for (const QStringList& r : sheet.rows) {
                if (pages.left() < row_h) {
                    if (!pages.room(row_h * 2))
                        break;
                    draw_row(sheet.columns, true);
                }
                draw_row(r, false);
            }
        }
        pages.y_ += line;
    }

    if (!sheet.options.empty() && pages.room(line * (int(sheet.options.size()) + 1))) {
        painter.setFont(bold);
        painter.drawText(QRect(0, pages.y_, w, line), Qt::AlignLeft, "Sorties et options");
        pages.y_ += line;
        painter.setFont(body);
        for (const auto& [name, value] : sheet.options) {
            if (!pages.room(line))
                break;
            painter.drawText(QRect(0, pages.y_, w / 2, line), Qt::AlignLeft, name);
            painter.drawText(QRect(w / 2, pages.y_, w / 2, line), Qt::AlignLeft, value);
            pages.y_ += line;
        }
        pages.y_ += line;
    }

    // The band picture: on this page when it fits at a useful size, else on the next.
    const int picture_h = w * 7 / 12;
    if (!sheet.bands.measurements.empty() && pages.room(picture_h)) {
        draw_bands(painter, QRectF(0, pages.y_, w, picture_h), sheet.bands);
        pages.y_ += picture_h;
    }
    painter.end();
    if (QFileInfo(path).size() == 0) {
        if (error)
            *error = "Impossible d'écrire " + path + ".";
        return false;
    }
    return true;
}

} // namespace zuna
