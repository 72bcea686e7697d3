#pragma once
// "Graphique": a family's channel windows as bands per measurement (Qt
// Charts), the last tested coin as a marker line, a teach's samples with
// their envelope and the window the validation would write; overlapping
// channels marked. Non-modal: the family window refreshes it with set().
// Also the question every window write asks before it creates an overlap.
#include <QDialog>
#include <QImage>
#include <QString>
#include <functional>

#include "settings/bands.h"
#include "ui/feedback.h"
#include "ui/sheet.h"

class QBoxLayout;
class QHBoxLayout;
class QChart;
class QChartView;
class QLabel;
class QPainter;
class QPushButton;
class QRectF;

namespace zuna {

class Shell;
class SettingsPanel;

class BandView : public QDialog {
    Q_OBJECT
public:
    BandView(Shell& shell, QWidget* parent);
    ~BandView() override;

    void set(const settings::BandSet& bands);
    const settings::BandSet& bands() const { return bands_; }
    QChart* chart() const { return chart_; }

    // Export ("PNG…", "SVG…"); false with a French reason.
    bool save_png(const QString& path, QString* error) const;
    bool save_svg(const QString& path, QString* error) const;
    // The picture alone, for the settings sheet.
    QImage picture(const QSize& size) const;

    // Replaced by tests: the file chooser of the export buttons.
    std::function<QString(const QString& filter)> choose_file;

private:
    void rebuild();
    void export_as(bool svg);

    settings::BandSet bands_;
    QChart* chart_;
    QChartView* view_;
    QLabel* overlaps_;
};

// Before a write of channel `channel` with `windows`: when it would overlap
// other enabled channels, asks the overlap question. true: write.
using OverlapAsk = std::function<bool(const QString& question)>;
OverlapAsk default_overlap_ask(QWidget* parent);
bool write_allowed(const settings::BandSet& current, int channel,
                   const std::vector<std::optional<settings::Band>>& windows, const OverlapAsk& ask);

// The labelled step of a value axis from 0 to range: 1, 2 or 5 times a power
// of ten, five to eleven labels.
int tick_step(int range);
// The overlapping pairs as the view names them under the chart (the sheet too).
QString overlap_text(const settings::BandSet& bands);

// The band picture as the view draws it, into any painter (the settings sheet).
void draw_bands(QPainter& painter, const QRectF& target, const settings::BandSet& bands);

// "Graphique" and "Fiche de réglage" of a family window. The window gives
// its channels as bands and its table as a sheet, and calls refresh() after
// every read, test, teach sample or write: an open view follows.
class ViewButtons : public QObject {
    Q_OBJECT
public:
    ViewButtons(Shell& shell, QWidget* window, std::function<settings::BandSet()> bands,
                std::function<Sheet()> sheet);
    void add_to(QBoxLayout* layout);
    QPushButton* graph_button() const { return graph_; }
    QPushButton* sheet_button() const { return sheet_; }
    BandView* view() const { return view_; } // null until "Graphique" was pressed
    void show_view();  // "Graphique"
    void write_sheet(); // "Fiche de réglage"
    void refresh();

    // Replaced by tests.
    std::function<QString()> choose_sheet_file;
    MessageSink tell;

private:
    Shell& shell_;
    QWidget* window_;
    std::function<settings::BandSet()> bands_;
    std::function<Sheet()> sheet_of_;
    QPushButton* graph_;
    QPushButton* sheet_;
    BandView* view_ = nullptr;
};

// The row every family window puts under its controls: the settings file
// buttons, then "Graphique" and "Fiche de réglage".
QHBoxLayout* file_row(SettingsPanel* settings, ViewButtons* views);

} // namespace zuna
