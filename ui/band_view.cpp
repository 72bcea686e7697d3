#include "ui/band_view.h"

#include <QBoxLayout>
#include <QFileDialog>
#include <QGraphicsScene>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSvgGenerator>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>

#include "ui/settings_panel.h"
#include "ui/shell.h"
#include "ui/widgets.h"

namespace zuna {

namespace {

using settings::Band;
using settings::BandSet;

} // namespace

int tick_step(int range)
{
    // 1, 2 or 5 times a power of ten: the smallest that labels at most ten
    // intervals of the scale.
    for (int power = 1;; power *= 10)
        for (int m : {1, 2, 5})
            if (int64_t(range) <= int64_t(10) * m * power)
                return m * power;
}

namespace {

QColor channel_colour(int channel)
{
    // Sixteen colours told apart at a glance, half transparent so an overlap shows.
    static const QRgb palette[16] = {0x4e79a7, 0xf28e2b, 0x59a14f, 0xe15759, 0xb07aa1, 0x76b7b2, 0xedc948, 0x9c755f,
                                     0xff9da7, 0x2f4b7c, 0xbab0ac, 0x8cd17d, 0xd37295, 0x86bcb6, 0xf1ce63, 0x499894};
    QColor c(palette[(channel - 1 + 16) % 16]);
    c.setAlpha(170);
    return c;
}

double top_of(const BandSet& b)
{
    int top = 0;
    for (int s : b.scale)
        top = std::max(top, s);
    return top > 0 ? top : 255;
}

// A value on the drawn scale: measurements of different widths share one
// axis in percent of their own scale.
double y_of(const BandSet& b, size_t m, int value)
{
    bool mixed = false;
    for (int s : b.scale)
        mixed |= s != b.scale.front();
    if (!mixed || m >= b.scale.size() || b.scale[m] <= 0)
        return value;
    return 100.0 * value / b.scale[m];
}

bool mixed_scale(const BandSet& b)
{
    for (int s : b.scale)
        if (s != b.scale.front())
            return true;
    return false;
}

void add(QChart* chart, QAbstractSeries* s, QAbstractAxis* x, QAbstractAxis* y)
{
    chart->addSeries(s);
    s->attachAxis(x);
    s->attachAxis(y);
}

// Builds the chart of a band set: one column per measurement, each enabled
// channel a band side by side within the column, the coin, the samples and
// the proposed window on top.
void fill_chart(QChart* chart, const BandSet& b)
{
    chart->removeAllSeries();
    for (QAbstractAxis* a : chart->axes())
        chart->removeAxis(a), delete a;
    const int measurements = int(b.measurements.size());
    auto* x = new QCategoryAxis;
    x->setMin(-0.5);
    x->setMax(std::max(measurements, 1) - 0.5);
    x->setStartValue(-0.5);
    for (int m = 0; m < measurements; ++m)
        x->append(QString::fromStdString(b.measurements[m]), m + 0.5);
    x->setGridLineVisible(false);
    auto* y = new QValueAxis;
    y->setRange(0, mixed_scale(b) ? 100 : top_of(b));
    y->setTitleText(mixed_scale(b) ? "% de l'échelle" : "Valeur mesurée");
    y->setLabelFormat("%d");
    y->setTickType(QValueAxis::TicksDynamic);
    y->setTickAnchor(0);
    y->setTickInterval(tick_step(int(mixed_scale(b) ? 100 : top_of(b))));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);

    const auto pairs = settings::overlaps(b);
    auto overlapping = [&](int channel) {
        for (const auto& [p, q] : pairs)
            if (p == channel || q == channel)
                return true;
        return false;
    };
    std::vector<const settings::ChannelBands*> shown;
    for (const auto& c : b.channels)
        if (c.enabled)
            shown.push_back(&c);
    const double slot = shown.empty() ? 0.8 : 0.8 / double(shown.size());
    for (size_t i = 0; i < shown.size(); ++i) {
        const auto& c = *shown[i];
        const QColor colour = channel_colour(c.channel);
        bool first = true;
        for (size_t m = 0; m < c.windows.size() && int(m) < measurements; ++m) {
            if (!c.windows[m])
                continue;
            const double x0 = double(m) - 0.4 + slot * double(i);
            const double x1 = x0 + slot * 0.9;
            auto* upper = new QLineSeries;
            auto* lower = new QLineSeries;
            upper->append(x0, y_of(b, m, c.windows[m]->high));
            upper->append(x1, y_of(b, m, c.windows[m]->high));
            lower->append(x0, y_of(b, m, c.windows[m]->low));
            lower->append(x1, y_of(b, m, c.windows[m]->low));
            auto* area = new QAreaSeries(upper, lower);
            // An area series does not own its edges: they go with it.
            upper->setParent(area);
            lower->setParent(area);
            area->setName(QString("Canal %1").arg(c.channel));
            area->setProperty("channel", c.channel);
            area->setProperty("measurement", int(m));
            // An overlapping band is hatched as well as outlined in red: a black
            // and white printout still shows it.
            area->setBrush(QBrush(colour, overlapping(c.channel) ? Qt::DiagCrossPattern : Qt::SolidPattern));
            QPen pen(overlapping(c.channel) ? QColor(Qt::red) : colour.darker(150));
            pen.setWidthF(overlapping(c.channel) ? 2.5 : 1.0);
            area->setPen(pen);
            add(chart, area, x, y);
            // The channel number above its band.
            auto* label = new QScatterSeries;
            label->append((x0 + x1) / 2, y_of(b, m, c.windows[m]->high));
            label->setMarkerSize(1);
            label->setColor(Qt::transparent);
            label->setBorderColor(Qt::transparent);
            label->setPointLabelsVisible(true);
            label->setPointLabelsFormat(QString::number(c.channel));
            label->setPointLabelsClipping(false);
            add(chart, label, x, y);
            chart->legend()->markers(label).value(0)->setVisible(false);
            if (!first)
                chart->legend()->markers(area).value(0)->setVisible(false);
            first = false;
        }
    }
    if (b.proposed) {
        bool first = true;
        for (size_t m = 0; m < b.proposed->size() && int(m) < measurements; ++m) {
            const Band& w = (*b.proposed)[m];
            if (w.low > w.high)
                continue; // a measurement the validation leaves unbounded
            auto* upper = new QLineSeries;
            auto* lower = new QLineSeries;
            upper->append(m - 0.45, y_of(b, m, w.high));
            upper->append(m + 0.45, y_of(b, m, w.high));
            lower->append(m - 0.45, y_of(b, m, w.low));
            lower->append(m + 0.45, y_of(b, m, w.low));
            auto* area = new QAreaSeries(upper, lower);
            upper->setParent(area);
            lower->setParent(area);
            area->setName(QString("Fenêtre proposée (canal %1)").arg(b.proposed_channel));
            area->setProperty("proposed", true);
            area->setColor(QColor(0, 0, 0, 0));
            QPen pen(Qt::darkBlue);
            pen.setStyle(Qt::DashLine);
            pen.setWidthF(2);
            area->setPen(pen);
            add(chart, area, x, y);
            if (!first)
                chart->legend()->markers(area).value(0)->setVisible(false);
            first = false;
        }
    }
    if (!b.samples.empty()) {
        auto* points = new QScatterSeries;
        points->setName(QString("Échantillons (%1)").arg(b.samples.size()));
        points->setMarkerSize(6);
        points->setColor(Qt::black);
        auto* envelope = new QScatterSeries;
        envelope->setName("Enveloppe min/max");
        envelope->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
        envelope->setMarkerSize(9);
        envelope->setColor(QColor(255, 140, 0));
        for (int m = 0; m < measurements; ++m) {
            int lo = INT_MAX, hi = INT_MIN;
            for (size_t k = 0; k < b.samples.size(); ++k) {
                if (size_t(m) >= b.samples[k].size())
                    continue;
                const int v = b.samples[k][m];
                // Spread the points a little across the column so equal values stay countable.
                points->append(m - 0.3 + 0.6 * double(k + 1) / double(b.samples.size() + 1), y_of(b, m, v));
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
            if (lo <= hi) {
                envelope->append(m, y_of(b, m, lo));
                envelope->append(m, y_of(b, m, hi));
            }
        }
        add(chart, points, x, y);
        add(chart, envelope, x, y);
    }
    if (b.coin) {
        auto* line = new QLineSeries;
        line->setName("Pièce testée");
        QPen pen(Qt::darkGray);
        pen.setWidthF(1.5);
        line->setPen(pen);
        auto* inside = new QScatterSeries;
        inside->setName("dans une fenêtre");
        inside->setColor(QColor(0, 160, 0));
        inside->setMarkerSize(11);
        auto* outside = new QScatterSeries;
        outside->setName("hors fenêtre");
        outside->setColor(QColor(220, 0, 0));
        outside->setMarkerSize(11);
        for (int m = 0; m < measurements && size_t(m) < b.coin->size(); ++m) {
            const int v = (*b.coin)[m];
            line->append(m, y_of(b, m, v));
            bool in = false;
            for (const auto& c : b.channels)
                if (c.enabled && size_t(m) < c.windows.size() && c.windows[m] && v >= c.windows[m]->low &&
                    v <= c.windows[m]->high)
                    in = true;
            (in ? inside : outside)->append(m, y_of(b, m, v));
        }
        add(chart, line, x, y);
        add(chart, inside, x, y);
        add(chart, outside, x, y);
    }
    chart->legend()->setAlignment(Qt::AlignRight);
}

} // namespace

QString overlap_text(const BandSet& b)
{
    const auto pairs = settings::overlaps(b);
    if (pairs.empty())
        return "Aucun recouvrement entre canaux.";
    QStringList list;
    for (const auto& [p, q] : pairs)
        list << QString("%1 et %2").arg(p).arg(q);
    return "Canaux qui se recouvrent (une même pièce serait acceptée par les deux) : " + list.join(", ");
}

namespace {

QString coin_text(const BandSet& b)
{
    if (!b.coin)
        return {};
    QStringList values;
    for (int v : *b.coin)
        values << QString::number(v);
    QStringList accepted;
    for (const auto& c : b.channels) {
        if (!c.enabled)
            continue;
        const auto in = settings::coin_inside(b, c);
        bool all = true, any = false;
        for (const auto& i : in)
            if (i)
                any = true, all = all && *i;
        if (any && all)
            accepted << QString::number(c.channel);
    }
    return "Pièce testée : " + values.join(" ") +
           (accepted.isEmpty()      ? " — dans aucun canal."
            : accepted.size() == 1 ? " — dans le canal " + accepted.front() + "."
                                   : " — dans les canaux " + accepted.join(", ") + ".");
}

// Renders a chart of the band set, off screen, at the given size.
void render_chart(const BandSet& b, QPainter& painter, const QRectF& target, const QSize& size)
{
    QGraphicsScene scene;
    auto* chart = new QChart;
    scene.addItem(chart);
    fill_chart(chart, b);
    chart->setTitle(QString::fromStdString(b.family));
    chart->setGeometry(QRectF(QPointF(0, 0), size));
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(&painter, target, QRectF(QPointF(0, 0), size));
}

} // namespace

BandView::BandView(Shell& shell, QWidget* parent)
    : QDialog(parent), chart_(new QChart), view_(new QChartView(chart_, this)), overlaps_(new QLabel(this))
{
    setObjectName("Graphique");
    setWindowTitle(shell.title("Graphique"));
    setModal(false);
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setMinimumSize(640, 360);
    overlaps_->setObjectName("recouvrements");
    overlaps_->setWordWrap(true);
    // The texts keep their lines; the chart gives way.
    overlaps_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    overlaps_->setMinimumHeight(overlaps_->fontMetrics().lineSpacing() * 3);
    auto* png = make_button(this, "ExportPng", "PNG…", "Enregistre le graphique en image PNG");
    auto* svg = make_button(this, "ExportSvg", "SVG…", "Enregistre le graphique en dessin SVG");
    auto* close = make_button(this, "Fermer", "Fermer");
    connect(png, &QPushButton::clicked, this, [this] { export_as(false); });
    connect(svg, &QPushButton::clicked, this, [this] { export_as(true); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(png);
    buttons->addWidget(svg);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(view_, 1);
    layout->addWidget(overlaps_);
    layout->addLayout(buttons);
    resize(860, 600);
}

BandView::~BandView() = default;

void BandView::set(const settings::BandSet& bands)
{
    bands_ = bands;
    rebuild();
}

void BandView::rebuild()
{
    fill_chart(chart_, bands_);
    chart_->setTitle(QString::fromStdString(bands_.family));
    const QString coin = coin_text(bands_);
    overlaps_->setText(overlap_text(bands_) + (coin.isEmpty() ? QString() : "\n" + coin));
    overlaps_->setStyleSheet(settings::overlaps(bands_).empty() ? QString() : "color: #b00000;");
}

QImage BandView::picture(const QSize& size) const
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    render_chart(bands_, painter, QRectF(QPointF(0, 0), size), size);
    return image;
}

bool BandView::save_png(const QString& path, QString* error) const
{
    if (picture(QSize(1200, 700)).save(path, "PNG"))
        return true;
    if (error)
        *error = "Impossible d'enregistrer l'image " + path + ".";
    return false;
}

bool BandView::save_svg(const QString& path, QString* error) const
{
    QSvgGenerator svg;
    svg.setFileName(path);
    const QSize size(1200, 700);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setTitle("Graphique " + QString::fromStdString(bands_.family));
    QPainter painter;
    if (!painter.begin(&svg)) {
        if (error)
            *error = "Impossible d'enregistrer le dessin " + path + ".";
        return false;
    }
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    render_chart(bands_, painter, QRectF(QPointF(0, 0), size), size);
    painter.end();
    return true;
}

void BandView::export_as(bool svg)
{
    const QString filter = svg ? "Dessin SVG (*.svg)" : "Image PNG (*.png)";
    QString path = choose_file ? choose_file(filter)
                               : QFileDialog::getSaveFileName(this, windowTitle(), QString(), filter);
    if (path.isEmpty())
        return;
    const QString suffix = svg ? ".svg" : ".png";
    if (!path.endsWith(suffix, Qt::CaseInsensitive))
        path += suffix;
    QString error;
    if (!(svg ? save_svg(path, &error) : save_png(path, &error)))
        QMessageBox::warning(this, windowTitle(), error);
}

OverlapAsk default_overlap_ask(QWidget* parent)
{
    return [parent](const QString& question) {
        // Captioned as the window that writes (its title says " - SIMULATION" on the bench).
        return QMessageBox::question(parent, parent ? parent->windowTitle() : QString("Recouvrement"), question,
                                     QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    };
}

bool write_allowed(const settings::BandSet& current, int channel, const std::vector<std::optional<settings::Band>>& windows,
                   const OverlapAsk& ask)
{
    const std::vector<int> others = settings::overlaps_after_write(current, channel, windows);
    return others.empty() || !ask || ask(QString::fromStdString(settings::overlap_question(channel, others)));
}

ViewButtons::ViewButtons(Shell& shell, QWidget* window, std::function<settings::BandSet()> bands,
                         std::function<Sheet()> sheet)
    : QObject(window), shell_(shell), window_(window), bands_(std::move(bands)), sheet_of_(std::move(sheet))
{
    graph_ = make_button(window, "Graphique", "Graphique", "Les fenêtres des canaux et la dernière pièce testée");
    sheet_ = make_button(window, "Fiche", "Fiche de réglage", "Enregistre la fiche de réglage en PDF");
    connect(graph_, &QPushButton::clicked, this, &ViewButtons::show_view);
    connect(sheet_, &QPushButton::clicked, this, &ViewButtons::write_sheet);
}

void ViewButtons::add_to(QBoxLayout* layout)
{
    layout->addWidget(graph_);
    layout->addWidget(sheet_);
}

void ViewButtons::show_view()
{
    if (!view_)
        view_ = new BandView(shell_, window_);
    view_->set(bands_());
    view_->show();
    view_->raise();
}

void ViewButtons::refresh()
{
    if (view_)
        view_->set(bands_());
}

void ViewButtons::write_sheet()
{
    const Sheet sheet = sheet_of_();
    QString path = choose_sheet_file
                       ? choose_sheet_file()
                       : QFileDialog::getSaveFileName(window_, shell_.title("Fiche de réglage"),
                                                      QString("fiche-%1.pdf").arg(sheet.family).replace(' ', '-'),
                                                      "Document PDF (*.pdf)");
    if (path.isEmpty())
        return;
    if (!path.endsWith(".pdf", Qt::CaseInsensitive))
        path += ".pdf";
    QString error;
    const MessageSink say = tell ? tell : default_sink(window_, window_->windowTitle());
    if (!zuna::write_sheet(path, sheet, &error))
        say(error);
    else
        (tell ? tell : info_sink(window_, window_->windowTitle()))("Fiche de réglage enregistrée : " + path);
}

QHBoxLayout* file_row(SettingsPanel* settings, ViewButtons* views)
{
    auto* row = new QHBoxLayout;
    settings->add_to(row);
    views->add_to(row);
    row->addStretch();
    return row;
}

// The band picture for the settings sheet, drawn as the view draws it.
void draw_bands(QPainter& painter, const QRectF& target, const settings::BandSet& bands)
{
    // Laid out at screen size, then scaled: at the printer's resolution the texts would be specks.
    const int width = 1000;
    render_chart(bands, painter, target, QSize(width, int(width * target.height() / target.width())));
}

} // namespace zuna
