#pragma once
// Taide_alber: how to read one channel block of the AL3 window, as a
// picture with callouts. Created at start-up, shown modally by the AL3
// window's help button; it reads and writes nothing.
#include <QDialog>

class QLabel;
class QPushButton;

namespace zuna {

class Taide_alber : public QDialog {
    Q_OBJECT
public:
    explicit Taide_alber(QWidget* parent = nullptr);
    QLabel* image() const { return Image1; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    QLabel* Image1;
    QPushButton* BitBtn1;
};

} // namespace zuna
