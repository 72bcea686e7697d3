#include "link/port_check.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <sched.h>
#include <sys/sysmacros.h>

#include "link/hardware_port.h"
#include "link/sys_text.h"
#include "link/timing.h"

namespace zuna {

namespace {
using Verdict = CheckLine::Verdict;

bool has(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

bool has_gid(const std::vector<gid_t>& ids, gid_t id) { return std::find(ids.begin(), ids.end(), id) != ids.end(); }

std::string trimmed(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\t'))
        s.pop_back();
    return s;
}

std::string base_name(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// "parport0", "parport12": a ppdev device name.
bool is_parport(const std::string& name)
{
    return name.size() > 7 && name.rfind("parport", 0) == 0 &&
           std::all_of(name.begin() + 7, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

CheckLine presence(const std::string& device, SysCalls& sys)
{
    std::vector<std::string> found;
    for (const std::string& name : sys.list_dir("/dev"))
        if (is_parport(name))
            found.push_back("/dev/" + name);
    std::sort(found.begin(), found.end());
    if (found.empty())
        return {Verdict::Failed,
                "Aucun port parallèle (/dev/parport*) : pas de carte, port désactivé dans le BIOS, ou modules "
                "parport_pc et ppdev absents (voir la ligne suivante). Sans matériel : zuna07 --simulate."};
    std::string list;
    for (const std::string& f : found)
        list += (list.empty() ? "" : ", ") + f;
    if (!has(found, device))
        return {Verdict::Failed, "Ports parallèles présents : " + list + ", mais pas " + device +
                                     " : essayez --port " + found.front() + "."};
    return {Verdict::Ok, "Ports parallèles présents : " + list + "."};
}

CheckLine modules(SysCalls& sys)
{
    const std::vector<std::string> loaded = sys.list_dir("/sys/module");
    std::string missing;
    for (const char* m : {"parport_pc", "ppdev"})
        if (!has(loaded, m))
            missing += std::string(missing.empty() ? "" : " et ") + m;
    if (missing.empty())
        return {Verdict::Ok, "Modules du noyau parport_pc et ppdev chargés."};
    return {Verdict::Failed, "Module(s) du noyau non chargé(s) : " + missing +
                                 ". Chargez-les : sudo modprobe -a parport_pc ppdev ; à chaque démarrage : "
                                 "écrivez « parport_pc » et « ppdev » dans /etc/modules-load.d/zuna07.conf."};
}

CheckLine rights(const std::string& device, SysCalls& sys)
{
    struct stat st {};
    if (sys.stat(device.c_str(), &st) != 0)
        return {Verdict::Warning, "Droits sur " + device + " non vérifiables : " + french_error(errno) + "."};
    if (sys.uid() == 0)
        return {Verdict::Warning, "Lancé en root : ne lancez pas la station en root, mais sous votre compte "
                                  "membre du groupe « lp »."};
    gid_t lp = 0;
    std::vector<std::string> members;
    const bool lp_known = sys.group("lp", &lp, &members);
    const std::string group_name = lp_known && st.st_gid == lp ? "« lp »" : "n° " + std::to_string(st.st_gid);
    const std::vector<gid_t> mine = sys.groups();
    if ((st.st_mode & S_IRGRP) && (st.st_mode & S_IWGRP) && has_gid(mine, st.st_gid))
        return {Verdict::Ok, "L'utilisateur " + sys.user_name() + " est dans le groupe " + group_name + " de " +
                                 device + "."};
    std::string udev;
    const std::string db = "/run/udev/data/c" + std::to_string(major(st.st_rdev)) + ":" +
                           std::to_string(minor(st.st_rdev));
    if (sys.read_text(db.c_str(), &udev) &&
        (udev.find("\nG:uaccess\n") != std::string::npos || udev.rfind("G:uaccess\n", 0) == 0 ||
         udev.find("\nQ:uaccess\n") != std::string::npos))
        return {Verdict::Ok, device + " porte l'étiquette udev « uaccess » : la session locale y a accès."};
    if ((st.st_mode & S_IROTH) && (st.st_mode & S_IWOTH))
        return {Verdict::Warning, device + " est ouvert à tous les utilisateurs : installez la règle udev "
                                           "60-zuna07-parport.rules (groupe « lp », mode 0660)."};
    if (has(members, sys.user_name()))
        return {Verdict::Failed, "L'utilisateur " + sys.user_name() + " est inscrit dans le groupe « lp », mais "
                                 "pas encore cette session : fermez la session et rouvrez-la."};
    return {Verdict::Failed, "L'utilisateur " + sys.user_name() + " n'est pas dans le groupe " + group_name +
                                 " de " + device + " : sudo usermod -aG lp " + sys.user_name() +
                                 ", puis fermez la session et rouvrez-la."};
}

CheckLine printer_driver(const std::string& device, SysCalls& sys)
{
    const bool lp_loaded = has(sys.list_dir("/sys/module"), "lp");
    const std::string remedy = "sudo modprobe -r lp ; pour de bon, écrivez « blacklist lp » dans "
                               "/etc/modprobe.d/zuna07.conf.";
    std::string active;
    const std::string path = "/proc/sys/dev/parport/" + base_name(device) + "/devices/active";
    if (sys.read_text(path.c_str(), &active))
        active = trimmed(active);
    if (!active.empty() && active != "none") {
        if (active.rfind("lp", 0) == 0)
            return {Verdict::Failed, "Le pilote d'imprimante lp tient le port (" + active + ") : " + remedy};
        return {Verdict::Failed, "Le port est tenu par « " + active + " » (un autre programme ou pilote) : "
                                 "fermez-le avant de lancer la station."};
    }
    if (lp_loaded)
        return {Verdict::Warning, "Le pilote d'imprimante lp est chargé : il peut prendre le port pendant une "
                                  "impression. " + remedy};
    return {Verdict::Ok, "Le pilote d'imprimante lp ne tient pas le port."};
}

CheckLine realtime(SysCalls& sys)
{
    const int need = ::sched_get_priority_max(SCHED_FIFO);
    if (sys.uid() == 0)
        return {Verdict::Ok, "Priorité temps réel permise (root, sans limite RLIMIT_RTPRIO)."};
    rlimit lim{};
    const bool known = sys.getrlimit(RLIMIT_RTPRIO, &lim) == 0;
    if (known && (lim.rlim_cur == RLIM_INFINITY || lim.rlim_cur >= rlim_t(need)))
        return {Verdict::Ok, "Priorité temps réel permise (RLIMIT_RTPRIO " +
                                 (lim.rlim_cur == RLIM_INFINITY ? std::string("illimitée")
                                                                : "= " + std::to_string(lim.rlim_cur)) + ")."};
    const std::string now = known ? "RLIMIT_RTPRIO = " + std::to_string(lim.rlim_cur) : "RLIMIT_RTPRIO illisible";
    return {Verdict::Warning, "Priorité temps réel refusée (" + now + ", il faut " + std::to_string(need) +
                                  ") : les temps de bit peuvent être perturbés pendant les transferts. Créez "
                                  "/etc/security/limits.d/95-zuna07.conf avec les lignes « @lp - rtprio " +
                                  std::to_string(need) + " » et « @lp - memlock unlimited », puis rouvrez "
                                  "la session."};
}

// French decimal comma, unit chosen for the size.
std::string duration_text(double seconds)
{
    char buf[32];
    if (seconds < 1e-3)
        std::snprintf(buf, sizeof buf, "%.3g µs", seconds * 1e6);
    else if (seconds < 1)
        std::snprintf(buf, sizeof buf, "%.3g ms", seconds * 1e3);
    else
        std::snprintf(buf, sizeof buf, "%.3g s", seconds);
    std::string s = buf;
    std::replace(s.begin(), s.end(), '.', ',');
    return s;
}

// The shortest of five runs: the others were interrupted.
template <class F>
double shortest_run(F run)
{
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        run();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

// A port that only idles: the pauses need no port, just the CPU.
struct IdleOnly : Port {
    void write_data_port(uint8_t) override {}
    uint8_t read_status_port() override { return 0; }
    void mask_interrupts() override {}
    void unmask_interrupts() override {}
    void idle(uint64_t steps) override { spin_steps(steps); }
};

void measure(Port* port, std::vector<CheckLine>& lines)
{
    if (port) {
        constexpr int kReads = 1000;
        const double t = shortest_run([&] {
            for (int i = 0; i < kReads; ++i)
                (void)port->read_status_port();
        });
        lines.push_back({Verdict::Measure, "Un accès au port (lecture de l'état) : " + duration_text(t / kReads) +
                                               " sur ce PC ; le banc simulé le compte 1 µs."});
    } else {
        lines.push_back({Verdict::Measure, "Un accès au port : non mesuré, le port n'est pas ouvert."});
    }
    IdleOnly cpu;
    const double short_pause = shortest_run([&] { module_short_pause(cpu); });
    const double long_pause = shortest_run([&] { module_long_pause(cpu); });
    lines.push_back({Verdict::Measure, "Pause courte du module (" + std::to_string(kShortPauseSteps) +
                                           " pas de boucle, horloge de la mémoire du module) : " +
                                           duration_text(short_pause) + " sur ce PC ; le banc simulé la compte " +
                                           duration_text(kShortPauseSteps * 1e-6) + "."});
    lines.push_back({Verdict::Measure, "Pause longue du module (4 × " + std::to_string(kLongPauseSteps) +
                                           " pas, impulsion de réveil et ouverture des lectures) : " +
                                           duration_text(long_pause) + " sur ce PC ; le banc simulé la compte " +
                                           duration_text(4 * kLongPauseSteps * 1e-6) + "."});
}
} // namespace

PortCheck check_port(const std::string& where, SysCalls& sys)
{
    PortCheck check;
    auto& lines = check.lines;
    std::optional<uint16_t> base;
    try {
        base = direct_port_base(where);
    } catch (const PortError& e) {
        lines.push_back({Verdict::Failed, e.what()});
        return check;
    }
    std::unique_ptr<Port> port;
    if (base) {
        try {
            port = std::make_unique<DirectPort>(*base, sys);
            char range[48];
            std::snprintf(range, sizeof range, "0x%X à 0x%X", unsigned(*base), unsigned(*base + 2));
            lines.push_back({Verdict::Ok, std::string("Accès direct (ioperm) accordé aux registres ") + range + "."});
        } catch (const PortError& e) {
            lines.push_back({Verdict::Failed, e.what()});
        }
    } else {
        lines.push_back(presence(where, sys));
        lines.push_back(modules(sys));
        lines.push_back(rights(where, sys));
        lines.push_back(printer_driver(where, sys));
        try {
            port = std::make_unique<PpdevPort>(where, sys);
            lines.push_back({Verdict::Ok, "Le port " + where + " s'ouvre et se réserve (PPCLAIM)."});
        } catch (const PortError& e) {
            lines.push_back({Verdict::Failed, e.what()});
        }
    }
    check.claimed = port != nullptr;
    lines.push_back(realtime(sys));
    measure(port.get(), lines);
    return check;
}

std::string format_check(const std::string& where, const PortCheck& check)
{
    std::string out = "Diagnostic du port " + where + " :\n";
    for (const CheckLine& l : check.lines) {
        const char* tag = l.verdict == Verdict::Ok        ? "OK        "
                          : l.verdict == Verdict::Warning ? "ATTENTION "
                          : l.verdict == Verdict::Failed  ? "ÉCHEC     "
                                                          : "MESURE    ";
        out += "  " + std::string(tag) + l.text + "\n";
    }
    if (check.claimed)
        out += "Le port " + where + " peut servir : zuna07 --port " + where + "\n";
    else
        out += "Le port " + where + " ne peut pas servir : corrigez les lignes ÉCHEC ci-dessus. "
               "Sans matériel : zuna07 --simulate\n";
    return out;
}

} // namespace zuna
