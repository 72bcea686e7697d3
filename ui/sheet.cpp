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

// Inside every table cell, each side.
constexpr int kPad = 6;

struct Table {
    QFont font;
    std::vector<int> widths; // one per column, summing to the page width
    int header_h = 0;
};

// The channel table's font and column widths: the largest size at which every
// header (bold) and every cell fits its column whole, the room left shared
// out evenly. A table too wide even at the smallest size wraps its headers
// at their spaces rather than cut them.
Table lay_out(const Sheet& sheet, QPdfWriter& writer, int width)
{
    Table t;
    const int n = int(sheet.columns.size());
    for (int points : {9, 8, 7, 6}) {
        t.font = QFont("DejaVu Sans", points);
        QFont bold = t.font;
        bold.setBold(true);
        const QFontMetrics plain_m(t.font, &writer), bold_m(bold, &writer);
        t.widths.assign(size_t(n), 0);
        for (int c = 0; c < n; ++c) {
            int need = bold_m.horizontalAdvance(sheet.columns[c]);
            for (const QStringList& r : sheet.rows)
                if (c < r.size())
                    need = std::max(need, plain_m.horizontalAdvance(r[c]));
            t.widths[size_t(c)] = need + 2 * kPad + 2;
        }
        int total = 0;
        for (int x : t.widths)
            total += x;
        if (total <= width || points == 6) {
            // Shared out (or, at the smallest size, taken back) evenly.
            const int spare = width - total;
            for (int c = 0; c < n; ++c)
                t.widths[size_t(c)] += spare / n + (c < spare % n ? 1 : 0);
            int lines = 1;
            for (int c = 0; c < n; ++c)
                lines = std::max(lines, bold_m.boundingRect(QRect(0, 0, t.widths[size_t(c)] - 2 * kPad, 1000),
                                                            Qt::TextWordWrap, sheet.columns[c])
                                                .height() /
                                            bold_m.height());
            t.header_h = bold_m.height() * lines + 8;
            break;
        }
    }
    return t;
}

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
        const Table t = lay_out(sheet, writer, w);
        QFont bold_cell = t.font;
        bold_cell.setBold(true);
        const int row_h = QFontMetrics(t.font, &writer).height() + 8;
        auto draw_row = [&](const QStringList& cells, bool header) {
            const int h = header ? t.header_h : row_h;
            painter.setFont(header ? bold_cell : t.font);
            int x = 0;
            for (int c = 0; c < sheet.columns.size(); ++c) {
                const QRect cell(x, pages.y_, t.widths[size_t(c)], h);
                x += t.widths[size_t(c)];
                if (header)
                    painter.fillRect(cell, QColor(225, 225, 225));
                painter.drawRect(cell);
                if (c < cells.size())
                    painter.drawText(cell.adjusted(kPad, 0, -kPad, 0),
                                     Qt::AlignVCenter | Qt::AlignHCenter | Qt::TextWordWrap, cells[c]);
            }
            pages.y_ += h;
        };
        if (pages.room(t.header_h + row_h)) {
            draw_row(sheet.columns, true);
            for (const QStringList& r : sheet.rows) {
                if (pages.left() < row_h) {
                    if (!pages.room(t.header_h + row_h))
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

    // The band picture: on this page when it fits at a useful size, else on
    // the next. The overlapping pairs are named under it in words: hatching
    // and red edges alone say nothing to someone reading the sheet aloud.
    if (!sheet.bands.measurements.empty()) {
        const QString said = overlap_text(sheet.bands);
        const int said_h =
            QFontMetrics(body, &writer).boundingRect(QRect(0, 0, w, 10 * line), Qt::TextWordWrap, said).height();
        const int picture_h = w * 7 / 12;
        if (pages.room(picture_h + said_h)) {
            draw_bands(painter, QRectF(0, pages.y_, w, picture_h), sheet.bands);
            pages.y_ += picture_h;
        }
        if (pages.room(said_h)) {
            painter.setFont(body);
            painter.setPen(Qt::black);
            painter.drawText(QRect(0, pages.y_, w, said_h), Qt::AlignLeft | Qt::TextWordWrap, said);
            pages.y_ += said_h + line;
        }
    }

    // The workshop's box, filled in by hand: blank lines to write on.
    {
        std::vector<std::pair<QString, QString>> asked = {
            {"Technicien", {}}, {"Machine équipée", {}}, {"Date de montage", {}}};
        asked.push_back({"Monnayeur n°", sheet.identity.value_or(QString())});
        const int gap = line * 3 / 2;
        const int box_h = 8 + line + gap * int(asked.size()) + line * 3 + line / 2;
        if (pages.room(box_h)) {
            const int top = pages.y_;
            painter.setPen(QPen(Qt::black, 3));
            painter.drawRect(QRect(0, top, w - 1, box_h));
            painter.setPen(QPen(Qt::black, 1));
            painter.setFont(bold);
            painter.drawText(QRect(kPad * 4, top + 8, w, line), Qt::AlignLeft, "Atelier");
            int y = top + 8 + line;
            // A name, and what the family read or a line to write on.
            auto blank = [&](const QString& name, const QString& value, int height) {
                y += height;
                painter.setFont(body);
                painter.drawText(QRect(kPad * 4, y - line, w / 3, line), Qt::AlignLeft | Qt::AlignBottom, name + " :");
                if (!value.isEmpty())
                    painter.drawText(QRect(w / 3, y - line, w * 2 / 3 - kPad * 4, line),
                                     Qt::AlignLeft | Qt::AlignBottom, value);
                else
                    painter.drawLine(w / 3, y, w - kPad * 4, y);
            };
            for (const auto& [name, value] : asked)
                blank(name, value, gap);
            blank("Signature", {}, line * 3); // room to sign above the line
            pages.y_ = top + box_h;
        }
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
