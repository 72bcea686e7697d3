#include "app/windows.h"

#include "app/c_canal.h"
#include "app/shell.h"
#include "c120/c_120.h"
#include "c120/c220b.h"
#include "c120/calibrate.h"
#include "nri/g13_teach.h"
#include "nri/g13_window.h"
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
    shell.add_dialog(new store::TM_g13_6000(shell, parent));
    shell.add_dialog(new store::Tm_c120(shell, parent));
    shell.add_dialog(new Tcalibrate(shell, parent));
}

const std::vector<SpeedItem>& speed_items()
{
    static const std::vector<SpeedItem> items = {
        {"SpeedItem1", "C120", "C120", "c120"},
        {"c220", "C220", "C220 ou SENTINEL", "c220"},
        {"SpeedItem2", "C220B", "C220B", "c220b"},
        {"nrig130000b", "NRI\nG13.0", "NRI G13.0", "g13"},
        {"nrig136000", "NRI\nG13.6", "NRI G13.6", "g136"},
        {"SpeedItem4", "SECI\nRM3", "SECI RM3", "rm3"},
        {"RM4menu", "SECI\nRM4", "SECI RM4", "rm4"},
        {"SpeedItem5", "Alberici\nAL 03.", "Alberici al 03", "al3"},
        {"SpeedItem3", "ZUNA07", "Calibre le module", ""},
    };
    return items;
}

std::unique_ptr<QDialog> make_device_window(const QString& item, Shell& shell, QWidget* parent)
{
    if (item == "SpeedItem1")
        return std::make_unique<Tc_120>(shell, parent);
    if (item == "SpeedItem2")
        return std::make_unique<Tc220b>(shell, parent);
    if (item == "nrig130000b")
        return std::make_unique<Tnrig130000>(shell, parent);
    return nullptr;
}

bool device_window_available(const QString& item)
{
    return item == "SpeedItem1" || item == "SpeedItem2" || item == "nrig130000b";
}

} // namespace zuna
