#include "c220/calibre_c220.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStringList>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "c220/c220_window.h"
#include "ui/feedback.h"
#include "ui/shell.h"
#include "ui/transfer.h"

namespace zuna {

using namespace c220;

namespace {

const char kUnread[] = "Lisez d'abord le monnayeur (« Lecture » de la fenêtre C220) : la somme de contrôle serait "
                       "calculée sur un contenu inconnu. Rien n'a été écrit.";

QLabel* make_label(QWidget* parent, const QString& name, const QString& text)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setAlignment(Qt::AlignCenter);
    l->setMinimumWidth(36);
    return l;
}

int label_number(const QLabel* l)
{
    bool ok = false;
    const int v = l->text().trimmed().toInt(&ok);
    return ok ? v : 0;
}

} // namespace

bool Search::pass(bool accepted)
{
    if (accepted) {
        f = x;
        x = (x + s) & 0xFF;
    } else {
        x = (x - s) & 0xFF;
    }
    s /= 2;
    if (s == 0 && ++zeros == 1)
        s = 1; // one more pass on the last step
    return zeros < 2;
}

Tcalibre_c220_o::Tcalibre_c220_o(Shell& shell, QWidget* parent) : QDialog(parent), shell_(shell)
{
    setObjectName("calibre_c220_o");
    setWindowTitle(shell.title("CALIBRATION"));
    auto* g = new QGridLayout(this);

    L1 = make_label(this, "L1", "Canal :");
    L1->setMinimumWidth(200);
    canal = new QSpinBox(this);
    canal->setObjectName("canal");
    canal->setRange(1, kChannels);
    canal->setValue(1);
    Label2 = make_label(this, "Label2", "Tolérance :");
    toler = new QSpinBox(this);
    toler->setObjectName("toler");
    toler->setRange(0, 20);
    toler->setValue(7);
    auto* top = new QHBoxLayout;
    top->addWidget(L1);
    top->addWidget(canal);
    top->addWidget(Label2);
    top->addWidget(toler);
    top->addStretch();
    g->addLayout(top, 0, 0, 1, 4);

    g->addWidget(new QLabel("Bas", this), 2, 0);
    g->addWidget(new QLabel("Haut", this), 3, 0);
    g->addWidget(new QLabel("Valeur", this), 4, 0);
    for (int k = 1; k <= 3; ++k) {
        g->addWidget(make_label(this, QString("f%1").arg(k), QString("Fenêtre %1").arg(k)), 1, k);
        m_[size_t(k - 1)] = make_label(this, QString("m%1").arg(k), "0");
        m_[size_t(k + 2)] = make_label(this, QString("m%1").arg(k + 3), "255");
        m_[size_t(k + 5)] = make_label(this, QString("m%1").arg(k + 6), "0");
        g->addWidget(m_[size_t(k - 1)], 2, k);
        g->addWidget(m_[size_t(k + 2)], 3, k);
        g->addWidget(m_[size_t(k + 5)], 4, k);
    }

    BitBtn1 = new QPushButton("LECTURE", this);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setToolTip("Lance la lecture de la piéce\n24 passages pour une piéce");
    ok = new QPushButton("PASSEZ LA PIECE", this);
    ok->setObjectName("ok");
    ok->setEnabled(false);
    ok->hide();
    BitBtn2 = new QPushButton("Garder valeur", this);
    BitBtn2->setObjectName("BitBtn2");
    BitBtn2->setToolTip("Garde la valeur du canal\nafin d'affiner le réglage avec une autre piéce");
    auto* row = new QHBoxLayout;
    row->addWidget(BitBtn1);
    row->addWidget(ok);
    row->addWidget(BitBtn2);
    g->addLayout(row, 5, 0, 1, 4);

    finals = new QGroupBox("Valeurs finales", this);
    finals->setObjectName("finals");
    auto* fg = new QGridLayout(finals);
    for (int k = 1; k <= 3; ++k) {
        va_[size_t(k - 1)] = make_label(finals, QString("va%1").arg(k), "0");
        va_[size_t(k + 2)] = make_label(finals, QString("va%1").arg(k + 3), "255");
        fg->addWidget(va_[size_t(k - 1)], 0, k - 1);
        fg->addWidget(va_[size_t(k + 2)], 1, k - 1);
    }
    g->addWidget(finals, 6, 0, 1, 4);

    ok2 = new QPushButton("ok", this);
    ok2->setObjectName("ok2");
    ok2->hide();
    transfer_ = new Transfer(shell.transfers, this, nullptr);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(transfer_->stop_button());
    bottom->addStretch();
    bottom->addWidget(ok2);
    g->addLayout(bottom, 7, 0, 1, 4);

    connect(BitBtn1, &QPushButton::clicked, this, &Tcalibre_c220_o::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &Tcalibre_c220_o::BitBtn2Click);
    connect(ok2, &QPushButton::clicked, this, &Tcalibre_c220_o::ok2Click);
}

void Tcalibre_c220_o::message(const QString& text)
{
    if (window_)
        window_->show_message(text);
    else
        default_sink(this, windowTitle())(text);
}

void Tcalibre_c220_o::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    FormActivate();
}

void Tcalibre_c220_o::FormActivate()
{
    kl_ = {255, 255, 255};
    kh_ = {0, 0, 0};
    flag_ = false;
    kept_ = false;
    written_ = false;
    kept_allowed_.reset();
    found_ = {};
    saved_.reset();
    samples_.clear();
    L1->setText("Canal :");
    canal->show();
    Label2->show();
    toler->show();
    ok->hide();
    ok2->hide();
    for (int k = 0; k < 3; ++k) {
        va_[size_t(k)]->setText("0");
        va_[size_t(k + 3)]->setText("255");
    }
}

std::array<uint8_t, 6> Tcalibre_c220_o::candidate(int k, int x) const
{
    std::array<uint8_t, 6> p{10, 255, 10, 255, 10, 255};
    p[size_t(2 * k)] = uint8_t(x);
    return p;
}

bool Tcalibre_c220_o::write(int c, const std::array<uint8_t, 6>& p)
{
    if (!window_)
        return false;
    WriteResult w;
    transfer_->set_stoppable(false);
    transfer_->run([&](Progress&) { w = ecrir_code(window_->link(), c, p); });
    return window_->report_write(w);
}

void Tcalibre_c220_o::BitBtn1Click()
{
    if (!window_ || !window_->count_ok())
        return;
    Link& link = window_->link();
    if (!link.whole) {
        message(kUnread);
        return;
    }
    const int c = canal->value();
    const int t = toler->value();
    flag_ = true;
    Label2->hide();
    toler->hide();
    canal->hide();
    ok2->hide();
    ok->show();
    if (!saved_) {
        saved_ = channel_limits(link.image, c);
        saved_channel_ = c;
    }
    std::array<int, 3> f{};
    found_ = {};
    for (auto& v : candidates_)
        v.clear();
    int a = 0; // a first result that is neither 0 nor one channel counts as not accepted
    QString ended;
    for (int k = 0; k < 3 && ended.isEmpty(); ++k) {
        for (int j = 0; j < 3; ++j) {
            m(j + 1)->setText(j == k ? "128" : "10");
            m(j + 4)->setText("255");
        }
        WriteResult w;
        transfer_->set_stoppable(false);
        transfer_->run([&](Progress&) {
            fin(link);
            w = ecrir_code(link, c, candidate(k, 128));
        });
        if (!window_->report_write(w)) {
            ended = QString("Mesure abandonnée à la fenêtre %1 : la fenêtre d'essai n'a pas été écrite.").arg(k + 1);
            break;
        }
        Search search;
        bool more = true;
        while (more) {
            candidates_[size_t(k)].push_back(search.x);
            TestResult r;
            QTimer::singleShot(0, ok, [this] { ok->setEnabled(true); }); // while the coin is awaited
            transfer_->set_stoppable(true);
            transfer_->run([&](Progress&) { r = test_p(link); });
            const bool stop = transfer_->stopped(); // asked during the coin wait: after this pass
            ok->setEnabled(false);
            ok2->hide();
            if (!r.answered) {
                ended = QString("Pas de réponse au test : mesure abandonnée à la fenêtre %1.").arg(k + 1);
                break;
            }
            if (r.mask == 0)
                a = 0;
            else if (r.channel())
                a = r.channel();
            L1->setText(a == 0 ? QString("Pas acceptée") : QString("Acceptée dans le canal %1").arg(a));
            more = search.pass(a == c);
            m(k + 1)->setText(QString::number(search.x));
            transfer_->set_stoppable(false);
            transfer_->run([&](Progress&) {
                fin(link);
                w = ecrir_code(link, c, candidate(k, search.x));
            });
            if (!window_->report_write(w)) {
                ended = QString("Mesure abandonnée à la fenêtre %1 : la fenêtre d'essai n'a pas été écrite.").arg(k + 1);
                break;
            }
            if (more && stop) {
                ended = QString("Mesure arrêtée à la fenêtre %1.").arg(k + 1);
                break;
            }
        }
        f[size_t(k)] = search.f;
        found_[size_t(k)] = ended.isEmpty() && search.f > 0;
        for (int j = 0; j < 3; ++j)
            m(j + 7)->setText(QString::number(f[size_t(j)]));
    }
    // The final windows, as signed numbers: "Garder valeur" brings them into 0..255.
    for (int k = 0; k < 3; ++k) {
        m(k + 1)->setText(QString::number(f[size_t(k)] - t));
        m(k + 4)->setText(QString::number(f[size_t(k)] + t));
        m(k + 7)->setText(QString::number(f[size_t(k)]));
    }
    ok->hide();
    ok2->show();
    if (ended.isEmpty() && found_[0] && found_[1] && found_[2])
        samples_.push_back({f[0], f[1], f[2]});
    window_->refresh_views();
    QStringList never;
    for (int k = 0; k < 3; ++k)
        if (!found_[size_t(k)] && f[size_t(k)] == 0 && ended.isEmpty())
            never << QString::number(k + 1);
    if (!ended.isEmpty())
        message(ended);
    else if (!never.isEmpty())
        message(QString("La pièce n'a jamais été acceptée dans le canal %1 (fenêtre %2) : « Garder valeur » ne "
                        "prendra pas cette fenêtre.")
                    .arg(c)
                    .arg(never.join(", ")));
}

void Tcalibre_c220_o::BitBtn2Click()
{
    if (!window_)
        return;
    const Link& link = window_->link();
    if (!flag_) {
        if (!link.whole) {
            message(kUnread);
            return;
        }
        flag_ = true;
        const auto v = channel_limits(link.image, canal->value());
        for (int k = 0; k < 3; ++k) {
            kl_[size_t(k)] = v[size_t(2 * k)] == 0 ? 255 : v[size_t(2 * k)];
            kh_[size_t(k)] = v[size_t(2 * k + 1)];
        }
        kept_ = true;
    } else {
        QStringList skipped;
        for (int k = 0; k < 3; ++k) {
            if (!found_[size_t(k)]) {
                skipped << QString::number(k + 1);
                continue;
            }
            kl_[size_t(k)] = std::min(kl_[size_t(k)], std::clamp(label_number(m(k + 1)), 0, 255));
            kh_[size_t(k)] = std::max(kh_[size_t(k)], std::clamp(label_number(m(k + 4)), 0, 255));
            kept_ = true;
        }
        if (!skipped.isEmpty())
            message(QString("Fenêtre %1 non mesurée ou jamais acceptée : non gardée.").arg(skipped.join(", ")));
    }
    for (int k = 0; k < 3; ++k) {
        va(k + 1)->setText(QString::number(kl_[size_t(k)]));
        va(k + 4)->setText(QString::number(kh_[size_t(k)]));
    }
    window_->refresh_views();
}

std::optional<std::vector<settings::Band>> Tcalibre_c220_o::proposed() const
{
    std::vector<settings::Band> w;
    if (kept_) {
        for (int k = 0; k < 3; ++k)
            w.push_back({kl_[size_t(k)], kh_[size_t(k)]});
        return w;
    }
    if (samples_.empty())
        return std::nullopt;
    const int t = toler->value();
    for (int k = 0; k < 3; ++k) {
        const int f = samples_.back()[size_t(k)];
        w.push_back({std::clamp(f - t, 0, 255), std::clamp(f + t, 0, 255)});
    }
    return w;
}

std::array<uint8_t, 6> Tcalibre_c220_o::kept_windows() const
{
    return {uint8_t(kl_[0]), uint8_t(kh_[0]), uint8_t(kl_[1]), uint8_t(kh_[1]), uint8_t(kl_[2]), uint8_t(kh_[2])};
}

void Tcalibre_c220_o::ok2Click()
{
    // "ok" writes the kept windows, and the closing writes them once more;
    // the overlap question is asked once for both. A first write that did not
    // hold is not repeated: the closing then writes nothing.
    if (!written_ && window_ && kept_) {
        kept_allowed_ = window_->overlap_ok(canal->value(), kept_windows());
        if (*kept_allowed_ && !write(canal->value(), kept_windows()))
            written_ = true;
    }
    accept();
}

void Tcalibre_c220_o::done(int r)
{
    // The write on leaving, by "ok" or otherwise: the kept windows, or the
    // channel as it was before the first candidate when nothing was kept.
    if (!written_ && window_) {
        written_ = true;
        const int c = canal->value();
        // Kept windows refused for an overlap: the channel goes back as it
        // was, never left with the wide windows of the search.
        const bool allowed = kept_ && (kept_allowed_ ? *kept_allowed_ : window_->overlap_ok(c, kept_windows()));
        if (allowed)
            write(c, kept_windows());
        else if (saved_)
            write(saved_channel_, *saved_);
    }
    kept_allowed_.reset();
    QDialog::done(r);
}

} // namespace zuna
