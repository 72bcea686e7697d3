#include "ui/band_view.h"

#include <QBoxLayout>
#include <QPushButton>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>

#include "ui/shell.h"
#include "ui/widgets.h"

namespace zuna {

BandView::BandView(Shell& shell, QWidget* parent) : QDialog(parent), chart_(new QChart), view_(new QChartView(chart_, this)), overlaps_(nullptr)
{
    setWindowTitle(shell.title("Graphique"));
}
BandView::~BandView() = default;
void BandView::set(const settings::BandSet& bands) { bands_ = bands; rebuild(); }
void BandView::rebuild() {}
bool BandView::save_png(const QString&, QString*) const { return false; }
bool BandView::save_svg(const QString&, QString*) const { return false; }
QImage BandView::picture(const QSize&) const { return {}; }
void BandView::export_as(bool) {}

OverlapAsk default_overlap_ask(QWidget*) { return [](const QString&) { return true; }; }

bool write_allowed(const settings::BandSet& current, int channel, const std::vector<std::optional<settings::Band>>& windows,
                   const OverlapAsk& ask)
{
    const std::vector<int> others = settings::overlaps_after_write(current, channel, windows);
    return others.empty() || ask(QString::fromStdString(settings::overlap_question(channel, others)));
}

ViewButtons::ViewButtons(Shell& shell, QWidget* window, std::function<settings::BandSet()> bands, std::function<Sheet()> sheet)
    : QObject(window), shell_(shell), window_(window), bands_(std::move(bands)), sheet_of_(std::move(sheet))
{
    graph_ = make_button(window, "Graphique", "Graphique", "Les fenêtres des canaux, la dernière pièce testée");
    sheet_ = make_button(window, "Fiche", "Fiche de réglage", "Enregistre la fiche de réglage en PDF");
    connect(graph_, &QPushButton::clicked, this, &ViewButtons::show_view);
    connect(sheet_, &QPushButton::clicked, this, &ViewButtons::write_sheet);
}
void ViewButtons::add_to(QBoxLayout* layout)
{
    layout->addWidget(graph_);
    layout->addWidget(sheet_);
}
void ViewButtons::show_view() {}
void ViewButtons::write_sheet() {}
void ViewButtons::refresh() {}

} // namespace zuna
