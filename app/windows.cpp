#include "app/windows.h"

#include "ui/c_canal.h"
#include "ui/shell.h"
#include "alberici/aide_alber.h"
#include "alberici/alber_3.h"
#include "c120/c_120.h"
#include "c120/c220b.h"
#include "c120/calibrate.h"
#include "c220/c220_window.h"
#include "c220/calibre_c220.h"
#include "freq/pc_dialogs.h"
#include "freq/zuna07_window.h"
#include "nri/g13_teach.h"
#include "nri/g13_window.h"
#include "nri/g136_teach.h"
#include "nri/g136_window.h"
#include "seci/seci_calibre.h"
#include "seci/seci_window.h"
#include "store/browsers.h"

namespace zuna {

void create_start_windows(Shell& shell, QWidget* parent)
{
    // Order of creation: Tvalid_c120, TC_canal, Tvalid_c220, Tcalibrate_c220,
    // Tcalibration_nri_g13, TValid_nri_g13, Tfichier, Tcalibration_nri_g136,
    // Tvalid_nri_g136, TM_g13_6000, Tm_c120, Tcalibre_c220_o, Tcalibre_rm3,
    // Tsauve_pc, Tlire_pc, Tcalibre_rm4, Tcalibrate, Taide_alber.
    shell.add_dialog(new Tvalid_c120(shell, parent));
    auto* prompt = new TC_canal(parent);
    prompt->setWindowTitle(shell.title(prompt->windowTitle()));
    shell.add_dialog(prompt);
    shell.add_dialog(new Tvalid_c220(shell, parent));
    shell.add_dialog(new Tcalibrate_c220(shell, parent));
    shell.add_dialog(new Tcalibration_nri_g13(shell, parent));
    shell.add_dialog(new TValid_nri_g13(parent));
    shell.add_dialog(new store::Tfichier(shell, parent));
    shell.add_dialog(new Tcalibration_nri_g136(shell, parent));
    shell.add_dialog(new Tvalid_nri_g136(parent));
    shell.add_dialog(new store::TM_g13_6000(shell, parent));
    shell.add_dialog(new store::Tm_c120(shell, parent));
    shell.add_dialog(new Tcalibre_c220_o(shell, parent));
    shell.add_dialog(new Tcalibre_rm3(shell, parent));
    shell.add_dialog(new Tsauve_pc(shell, parent));
    shell.add_dialog(new Tlire_pc(shell, parent));
    shell.add_dialog(new Tcalibre_rm4(shell, parent));
    shell.add_dialog(new Tcalibrate(shell, parent));
    auto* help = new Taide_alber(parent);
    help->setWindowTitle(shell.title(help->windowTitle()));
    shell.add_dialog(help);
}

namespace {
template <class W> std::unique_ptr<QDialog> window(Shell& shell, QWidget* parent)
{
    return std::make_unique<W>(shell, parent);
}
} // namespace

const std::vector<SpeedItem>& speed_items()
{
    static const std::vector<SpeedItem> items = {
        {"SpeedItem1", "C120", "C120", "c120", window<Tc_120>},
        {"c220", "C220", "C220 ou SENTINEL", "c220", window<TC220_o>},
        {"SpeedItem2", "C220B", "C220B", "c220b", window<Tc220b>},
        {"nrig130000b", "NRI\nG13.0", "NRI G13.0", "g13", window<Tnrig130000>},
        {"nrig136000", "NRI\nG13.6", "NRI G13.6", "g136", window<Tnrig1360000>},
        {"SpeedItem4", "SECI\nRM3", "SECI RM3", "rm3", window<TRM3>},
        {"RM4menu", "SECI\nRM4", "SECI RM4", "rm4", window<Trm4>},
        {"SpeedItem5", "Alberici\nAL 03.", "Alberici al 03", "al3", window<Talber_3>},
        {"SpeedItem3", "ZUNA07", "Calibre le module", "", window<Tzuna07>},
    };
    return items;
}

namespace {
const SpeedItem* find_item(const QString& name)
{
    for (const SpeedItem& item : speed_items())
        if (name == item.name)
            return &item;
    return nullptr;
}
} // namespace

std::unique_ptr<QDialog> make_device_window(const QString& item, Shell& shell, QWidget* parent)
{
    const SpeedItem* it = find_item(item);
    return it && it->make ? it->make(shell, parent) : nullptr;
}

bool device_window_available(const QString& item)
{
    const SpeedItem* it = find_item(item);
    return it && it->make;
}

} // namespace zuna
