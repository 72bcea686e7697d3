// Draws the AL3 help picture: the block of "Canal 1" as the AL3 window lays
// it out, with sample values and a callout per item. 374 x 181, 24 bits.
//   QT_QPA_PLATFORM=offscreen build/alberici/make_aide_alber alberici/aide_alber.bmp
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>
#include <cstdio>

namespace {

const QColor kFace(212, 208, 200);
const QColor kInk(0, 0, 0);
const QColor kCallout(0, 0, 160);

// A sunken label of the block with its number.
void cell(QPainter& p, const QRect& r, const QString& text)
{
    p.fillRect(r, kFace);
    p.setPen(QColor(128, 128, 128));
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(Qt::white);
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
    p.setPen(kInk);
    p.drawText(r, Qt::AlignCenter, text);
}

// A callout: its text at `at`, a line from `from` to the control, a dot on it.
void callout(QPainter& p, const QRect& text_box, const QString& text, QPoint from, QPoint to)
{
    p.setPen(kCallout);
    p.drawText(text_box, Qt::AlignCenter, text);
    p.drawLine(from, to);
    p.setBrush(kCallout);
    p.drawEllipse(to, 2, 2);
    p.setBrush(Qt::NoBrush);
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_aide_alber OUTPUT.bmp\n");
        return 2;
    }
    QImage img(374, 181, QImage::Format_RGB888);
    img.fill(QColor(236, 233, 216));
    QPainter p(&img);
    QFont f("DejaVu Sans");
    f.setPixelSize(10);
    p.setFont(f);

    // The block, in the AL3 window's layout: time over value on the left,
    // the selection box, the tolerance, six parameters over six deltas, the
    // output on the right.
    const QRect block(8, 62, 358, 64);
    p.fillRect(block, kFace);
    p.setPen(QColor(128, 128, 128));
    p.drawRect(block.adjusted(0, 0, -1, -1));
    p.setPen(kInk);
    p.drawText(QRect(14, 64, 80, 14), Qt::AlignLeft | Qt::AlignVCenter, "Canal 1");
    const QRect time(14, 80, 32, 18), value(14, 102, 32, 18);
    cell(p, time, "280");
    cell(p, value, "100");
    const QRect box(54, 82, 13, 13);
    p.fillRect(box, Qt::white);
    p.setPen(QColor(128, 128, 128));
    p.drawRect(box.adjusted(0, 0, -1, -1));
    p.setPen(QPen(kInk, 2));
    p.drawLine(box.left() + 3, box.center().y(), box.center().x() - 1, box.bottom() - 3);
    p.drawLine(box.center().x() - 1, box.bottom() - 3, box.right() - 2, box.top() + 3);
    p.setPen(kInk);
    const QRect tolerance(74, 80, 22, 18);
    cell(p, tolerance, "2");
    const int params[6] = {120, 88, 140, 60, 200, 96};
    const int deltas[6] = {6, 5, 6, 4, 8, 6};
    for (int k = 0; k < 6; ++k) {
        cell(p, QRect(102 + 38 * k, 80, 34, 18), QString::number(params[k]));
        cell(p, QRect(102 + 38 * k, 102, 34, 18), QString::number(deltas[k]));
    }
    const QRect output(336, 80, 24, 18);
    cell(p, output, "1");

    // Callouts above and below the block.
    callout(p, QRect(2, 4, 104, 14), "Temps d'impulsion", QPoint(30, 32), QPoint(30, 80));
    callout(p, QRect(2, 17, 104, 14), "en ms", QPoint(30, 32), QPoint(30, 32));
    callout(p, QRect(120, 14, 110, 14), "Sélection du canal", QPoint(128, 28), QPoint(61, 84));
    callout(p, QRect(118, 44, 64, 14), "Tolérance", QPoint(124, 57), QPoint(86, 81));
    callout(p, QRect(300, 30, 70, 14), "Sortie", QPoint(340, 44), QPoint(348, 81));
    callout(p, QRect(4, 150, 120, 14), "Valeur de la piéce", QPoint(30, 150), QPoint(30, 119));
    p.setPen(QColor(90, 90, 90));
    p.drawText(QRect(130, 130, 236, 14), Qt::AlignCenter, "6 paramètres");
    p.drawText(QRect(130, 144, 236, 14), Qt::AlignCenter, "6 deltas en dessous");
    p.end();
    if (!img.save(QString::fromLocal8Bit(argv[1]), "BMP")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
