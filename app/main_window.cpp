#include "app/main_window.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QSettings>
#include <QStatusBar>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/options.h"
#include "app/picture.h"
#include "app/station_main.h"
#include "app/windows.h"
#include "link/module.h"
#include "store/tables.h"
#include "ui/transfer.h"

namespace zuna {

namespace {
constexpr int kModulePrompts = 6;
} // namespace

TForm1::TForm1(Shell& shell, const StationSettings& settings, QWidget* parent)
    : QMainWindow(parent), shell_(shell)
{
    setObjectName("Form1");
    show_message = [this](const QString& text) { QMessageBox::information(this, "ZUNA 07", text); };
    build_ui();
    FormCreate(settings);
}

TForm1::~TForm1() = default;

void TForm1::build_ui()
{
    setWindowTitle(shell_.title("Programmateur de monnayeurs "));
    auto* central = new QWidget(this);
    auto* col = new QVBoxLayout(central);

    auto* section = new QLabel("choix", central);
    section->setObjectName("choix");
    section->setAlignment(Qt::AlignCenter);
    section->setFrameShape(QFrame::StyledPanel);
    col->addWidget(section);

    auto* bar = new QWidget(central);
    bar->setObjectName("SpeedBar1");
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    for (const SpeedItem& item : speed_items()) {
        auto* b = new QToolButton(bar);
        b->setObjectName(item.name);
        b->setText(item.button);
        b->setToolTip(item.hint);
        b->setMinimumSize(72, 52);
        b->setEnabled(device_window_available(item.name));
        const QString name = item.name;
        connect(b, &QToolButton::clicked, this, [this, name] { open_item(name); });
        row->addWidget(b);
    }
    col->addWidget(bar);

    image_ = new QLabel(central);
    image_->setObjectName("Image1");
    image_->setMinimumSize(480, 300);
    image_->setScaledContents(true); // stretched
    image_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    col->addWidget(image_, 1);

    auto* version = new QHBoxLayout;
    auto* l2 = new QLabel("Version :", central);
    l2->setObjectName("Label2");
    auto* l3 = new QLabel(station_version(), central);
    l3->setObjectName("Label3");
    version->addStretch(1);
    version->addWidget(l2);
    version->addWidget(l3);
    col->addLayout(version);
    setCentralWidget(central);

    // The module is measured and read on the transfer thread; a busy bar in
    // the status bar says so (a second or two on a slow PC).
    busy_ = new QProgressBar(this);
    busy_->setObjectName("mesure_module");
    busy_->setRange(0, 0);
    busy_->setMaximumWidth(160);
    busy_->hide();
    statusBar()->addPermanentWidget(busy_);
    transfer_ = new Transfer(shell_.transfers, this, nullptr);
    transfer_->set_stoppable(false);
}

void TForm1::on_line(const QString& what, const std::function<void()>& f)
{
    statusBar()->showMessage(what);
    busy_->show();
    transfer_->run([&](Progress&) { f(); });
    busy_->hide();
    statusBar()->clearMessage();
}

void TForm1::ensure_alias(const StationSettings& settings)
{
    // The alias "zuna" (path, driver DBASE) is added once and kept.
    std::unique_ptr<QSettings> store =
        settings.settings_file.isEmpty()
            ? std::make_unique<QSettings>("zuna07", "zuna07")
            : std::make_unique<QSettings>(settings.settings_file, QSettings::IniFormat);
    store->beginGroup("aliases/zuna");
    if (!store->contains("path")) {
        const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        store->setValue("path", QDir(base).filePath("zuna07"));
        store->setValue("driver", "DBASE");
    }
    data_dir_ = store->value("path").toString();
    store->endGroup();
    store->sync();
    if (store->status() != QSettings::NoError)
        startup_messages_ << QString("La configuration %1 n'a pas pu être enregistrée.").arg(store->fileName());
    if (!settings.data_dir.isEmpty())
        data_dir_ = settings.data_dir;
}

void TForm1::FormCreate(const StationSettings& settings)
{
    ensure_alias(settings);

    QDir dir(data_dir_);
    if (!dir.exists() && !QDir().mkpath(data_dir_)) {
        startup_messages_ << QString("Le dossier de données %1 n'existe pas et ne peut pas être créé : "
                                     "les modèles et les fréquences ne seront pas disponibles.")
                                 .arg(QDir::toNativeSeparators(data_dir_));
    } else {
        tables_ = store::open_tables(shell_, data_dir_, &startup_messages_);
    }

    create_start_windows(shell_, this);

    Station& s = shell_.station;
    on_line("Mesure du module…", [&] { measure_module(s); });
    s.g13_stored = 0;
}

bool TForm1::picture_loaded() const { return image_ && !image_->pixmap().isNull(); }

bool TForm1::FormActivate()
{
    Station& s = shell_.station;
    s.c120_read_timeout = kC120ReadTimeout;
    if (shell_.port_problem) {
        const std::string problem = shell_.port_problem();
        if (!problem.empty())
            show_message(QString::fromStdString(problem) + "\nLes valeurs lues peuvent être fausses.");
    }

    // The picture: anything that is not a readable JPEG clears it.
    const QString picture_path = find_picture(picture_dirs());
    const QImage picture = picture_path.isEmpty() ? QImage() : load_jpeg(picture_path);
    if (picture.isNull())
        image_->clear();
    else
        image_->setPixmap(QPixmap::fromImage(picture));

    for (int i = 0; i < kModulePrompts && s.measured_module_count == kNoModule; ++i) {
        show_message("Connectez le module");
        if (station_quitting())
            return false;
        on_line("Mesure du module…", [&] { measure_module(s); });
    }
    if (s.measured_module_count == kNoModule) {
        close();
        return false;
    }

    on_line("Lecture de la mémoire du module…", [&] { load_delay_counts(s); });
    if (s.module_memory_silent && !memory_warned_) {
        memory_warned_ = true;
        show_message("La mémoire du module ne répond pas (tous les octets lus valent 0xFF) : les fréquences "
                     "enregistrées ne sont pas utilisées. Les valeurs par défaut du PC d'origine sont prises à "
                     "leur place : le minutage des liaisons peut être faux sur ce PC.");
    }
    return true;
}

void TForm1::open_item(const QString& item_name)
{
    for (const SpeedItem& item : speed_items()) {
        if (item_name != item.name)
            continue;
        if (on_window_opening)
            on_window_opening(item.family);
        std::unique_ptr<QDialog> w = make_device_window(item_name, shell_, this);
        if (!w)
            return;
        w->exec();
        w.reset();
        if (!station_quitting())
            FormActivate();
        return;
    }
}

} // namespace zuna
