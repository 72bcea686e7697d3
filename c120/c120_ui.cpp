#include "c120/c120_ui.h"

#include <QApplication>
#include <QMessageBox>
#include <QPalette>

namespace zuna::c120 {

bool image_usable(const Station& s, const MessageSink& tell)
{
    if (s.memory_image[0] == 1)
        return true;
    tell("Faites d'abord une lecture complète du monayeur : la somme de contrôle est calculée sur sa mémoire.");
    return false;
}

bool teach_usable(const Station& s, const MessageSink& tell)
{
    if (s.memory_image[0] == 1)
        return true;
    tell("Faites d'abord une lecture complète du monayeur : la pièce apprise est écrite dans sa mémoire avec "
         "sa somme de contrôle.");
    return false;
}

QString write_message(const WriteOutcome& o)
{
    if (o.stopped)
        return QString("Écriture arrêtée au mot %1 : ce mot et les suivants ne sont pas écrits.").arg(o.failed);
    switch (o.result) {
    case WriteResult::Verified:
        return {};
    case WriteResult::Unverified:
        return QString("Le mot %1 n'a pas pu être vérifié dans le monayeur : le tableau montre ce qu'il contient.")
            .arg(o.failed);
    case WriteResult::Unknown:
        return QString("Le mot %1 n'a pas pu être vérifié : deux relectures ne concordent pas (ligne perturbée ?). "
                       "Le contenu du monnayeur est inconnu, relisez le monnayeur.")
            .arg(o.failed);
    case WriteResult::NoAnswer:
        break;
    }
    return QString("Le monayeur ne répond plus : le mot %1 n'a pas pu être vérifié. "
                   "Vérifiez le branchement et refaites une lecture.")
        .arg(o.failed);
}

QString read_message(const ReadResult& r)
{
    if (!r.opened)
        return "Le monayeur ne répond pas.";
    if (r.words >= kWordCount)
        return {};
    if (r.stopped)
        return QString("Lecture arrêtée au mot %1 : le tableau reste tel qu'il était.").arg(r.words + 1);
    return QString("Lecture interrompue au mot %1 : le monayeur ne répond plus.").arg(r.words + 1);
}

QString teach_message(const TeachResult& t, int coins)
{
    if (!t.answered)
        return "Le monayeur ne répond pas.";
    if (t.stopped)
        return QString("Calibration arrêtée après %1 pièce(s) sur %2.").arg(t.passed).arg(coins);
    return {};
}

int label_int(const QLabel* l)
{
    bool ok = false;
    const int v = l->text().trimmed().toInt(&ok);
    return ok ? v : 0;
}

void highlight(QLabel* upper, QLabel* lower, int v)
{
    const bool lit = label_int(lower) <= v && v <= label_int(upper);
    for (QLabel* l : {upper, lower}) {
        QPalette p = l->palette();
        p.setColor(QPalette::Window, lit ? QColor(Qt::yellow) : QApplication::palette().color(QPalette::Button));
        l->setAutoFillBackground(true);
        l->setPalette(p);
        l->setProperty("allume", lit);
    }
}

bool highlighted(const QLabel* l) { return l->property("allume").toBool(); }

} // namespace zuna::c120
