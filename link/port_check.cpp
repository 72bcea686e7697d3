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
#include "link/module.h"
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

// A port that only idles: the pauses need no port, just the CPU and the clock.
struct IdleOnly : Port {
    IdleOnly(SysCalls& sys, double floor_ns) : sys(sys), floor_ns(floor_ns) {}
    void write_data_port(uint8_t) override {}
    uint8_t read_status_port() override { return 0; }
    void mask_interrupts() override {}
    void unmask_interrupts() override {}
    void idle(uint64_t steps) override { floored_idle(sys, steps, floor_ns); }
    SysCalls& sys;
    double floor_ns;
};

std::string floor_text(double floor_ns)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", floor_ns);
    std::string s = buf;
    std::replace(s.begin(), s.end(), '.', ',');
    return s;
}

// port null: the access is not timed, and no_access says why.
void measure(Port* port, const char* no_access, SysCalls& sys, double floor_ns, std::vector<CheckLine>& lines)
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
        lines.push_back({Verdict::Measure, no_access});
    }
    IdleOnly bare(sys, 0);
    IdleOnly floored(sys, floor_ns);
    const auto timed = [&](void (*pause)(Port&), uint64_t steps) {
        const std::string loop = duration_text(shortest_run([&] { pause(bare); })) + " sans plancher";
        if (!(floor_ns > 0))
            return loop + " (plancher à 0 dans zuna07.conf : la boucle seule)";
        return loop + ", " + duration_text(shortest_run([&] { pause(floored); })) + " avec le plancher de " +
               floor_text(floor_ns) + " ns par pas (au moins " + duration_text(double(steps) * floor_ns * 1e-9) + ")";
    };
    // The bench counts a step 10 ns of a PC of speed 1, or the floor when it is longer.
    const auto bench = [&](uint64_t steps) {
        return " sur ce PC ; le banc simulé la compte " +
               duration_text(double(steps) * std::max(10.0, floor_ns) * 1e-9) + " à la vitesse 1.";
    };
    lines.push_back({Verdict::Measure, "Pause courte du module (" + std::to_string(kShortPauseSteps) +
                                           " pas de boucle, horloge de la mémoire du module) : " +
                                           timed(module_short_pause, kShortPauseSteps) + bench(kShortPauseSteps)});
    lines.push_back({Verdict::Measure, "Pause longue du module (4 × " + std::to_string(kLongPauseSteps) +
                                           " pas, impulsion de réveil et ouverture des lectures) : " +
                                           timed(module_long_pause, 4 * kLongPauseSteps) +
                                           bench(4 * kLongPauseSteps)});
}

// Connector pins of the status bits 3 to 7 and of the data lines.
constexpr int kStatusPin[8] = {0, 0, 0, 15, 13, 12, 10, 11};
std::string data_line(int i) { return "D" + std::to_string(i) + " (broche " + std::to_string(2 + i) + ")"; }
} // namespace

bool LineMap::module_answers() const { return module_count > 0 && module_count < kNoModule; }

LineMap map_lines(Port& port)
{
    LineMap map;
    constexpr uint8_t kLines = LineMap::kStatusLines;
    // More reads than the module's whole period at its slowest (twice 5000):
    // its time base shows as a bit that changes alone.
    port.write_data_port(LineMap::kRest);
    for (int i = 0; i < 2 * kNoModule + 1; ++i) {
        const uint8_t s = port.read_status_port();
        map.seen_high |= uint8_t(s & kLines);
        map.seen_low |= uint8_t(~s & kLines);
    }
    const uint8_t moving = map.seen_high & map.seen_low;
    // The second read after each write: the line has settled.
    const auto settled = [&](uint8_t value) {
        port.write_data_port(value);
        (void)port.read_status_port();
        return port.read_status_port();
    };
    constexpr int kTimes = 3;
    for (int line = 0; line < 8; ++line) {
        const uint8_t changed = uint8_t(LineMap::kRest ^ (1u << line));
        uint8_t always = kLines & ~moving, ever = 0, same = kLines;
        for (int t = 0; t < kTimes; ++t) {
            const uint8_t set = settled(changed);
            const uint8_t rest = settled(LineMap::kRest);
            const uint8_t diff = uint8_t((set ^ rest) & kLines & ~moving);
            always &= diff;
            ever |= diff;
            // Took the level the line had when changed alone.
            same &= (changed >> line) & 1 ? set : uint8_t(~set);
        }
        map.follows[size_t(line)] = always;
        map.same_level[size_t(line)] = uint8_t(always & same);
        map.sometimes[size_t(line)] = uint8_t(ever & ~always);
    }
    map.module_count = measure_module(port);
    port.write_data_port(LineMap::kRest);
    return map;
}

std::vector<CheckLine> describe(const LineMap& map)
{
    std::vector<CheckLine> out;
    char rest[8];
    std::snprintf(rest, sizeof rest, "0x%02X", LineMap::kRest);
    out.push_back({Verdict::Measure, std::string("Carte des lignes : registre de données au repos (") + rest +
                                         "), chaque ligne D0 à D7 changée seule, bits d'état 3 à 7 relus :"});
    bool any_follows = false;
    for (int bit = 3; bit < 8; ++bit) {
        const uint8_t mask = uint8_t(1u << bit);
        std::string text = "  bit d'état " + std::to_string(bit) + " (broche " + std::to_string(kStatusPin[bit]) + ") : ";
        std::string follows, shaky;
        for (int line = 0; line < 8; ++line) {
            if (map.follows[size_t(line)] & mask)
                follows += (follows.empty() ? "" : ", ") + data_line(line) +
                           (map.same_level[size_t(line)] & mask ? "" : " inversée");
            if (map.sometimes[size_t(line)] & mask)
                shaky += (shaky.empty() ? "" : ", ") + data_line(line);
        }
        if ((map.seen_high & map.seen_low & mask) != 0)
            text += "change seul, sans qu'une ligne bouge" +
                    std::string(bit == 5 ? " (la base de temps du module)" : "");
        else if (!follows.empty())
            text += "suit " + follows;
        else if (!shaky.empty())
            text += "change parfois avec " + shaky + " : contact incertain";
        else
            text += map.seen_high & mask ? "bloqué à 1" : "bloqué à 0";
        if (!follows.empty() && !shaky.empty())
            text += " ; change parfois avec " + shaky;
        any_follows = any_follows || !follows.empty();
        out.push_back({Verdict::Measure, text + "."});
    }
    if (map.module_answers()) {
        out.push_back({Verdict::Ok, "Le module répond à sa mesure : " + std::to_string(map.module_count) +
                                        " lectures pour une demi-période de sa base de temps (bit d'état 5)."});
    } else {
        const std::string seen = map.module_count == 0 ? "bit d'état 5 bloqué à 0, mesure 0"
                                                       : "pas de base de temps sur le bit d'état 5, mesure " +
                                                             std::to_string(map.module_count);
        std::string why = "module absent ou hors tension, câble débranché";
        if (any_follows)
            why = "des bits d'état suivent les lignes de données : une fiche de bouclage est branchée, pas le module";
        else if ((map.seen_high & map.seen_low) == 0)
            why = "aucun bit d'état ne bouge : module absent ou hors tension, câble débranché, ou carte sans entrées";
        out.push_back({Verdict::Failed, "Le module ne répond pas à sa mesure (" + seen + ") : " + why + "."});
    }
    return out;
}

void check_open_port(Port& port, SysCalls& sys, double pause_floor_ns, bool time_access, PortCheck& check)
{
    measure(time_access ? &port : nullptr, "Un accès au port : compté 1 µs sur le banc simulé.", sys, pause_floor_ns,
            check.lines);
    const LineMap map = map_lines(port);
    for (CheckLine& l : describe(map))
        check.lines.push_back(std::move(l));
    check.module_answers = map.module_answers();
}

PortCheck check_port(const std::string& where, SysCalls& sys, double pause_floor_ns)
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
    if (port)
        check_open_port(*port, sys, pause_floor_ns, true, check);
    else
        measure(nullptr, "Un accès au port : non mesuré, le port n'est pas ouvert.", sys, pause_floor_ns, lines);
    return check;
}

std::string format_check(const std::string& where, const PortCheck& check)
{
    std::string out = check.simulated ? "Diagnostic du banc simulé :\n" : "Diagnostic du port " + where + " :\n";
    for (const CheckLine& l : check.lines) {
        const char* tag = l.verdict == Verdict::Ok        ? "OK        "
                          : l.verdict == Verdict::Warning ? "ATTENTION "
                          : l.verdict == Verdict::Failed  ? "ÉCHEC     "
                                                          : "MESURE    ";
        out += "  " + std::string(tag) + l.text + "\n";
    }
    if (check.simulated)
        out += check.module_answers ? "Le banc simulé répond comme un port avec son module : zuna07 --simulate\n"
                                    : "Sur le banc simulé, le module ne répond pas (défaut simulé choisi ?).\n";
    else if (check.claimed && check.module_answers)
        out += "Le port " + where + " peut servir, le module y répond : zuna07 --port " + where + "\n";
    else if (check.claimed)
        out += "Le port " + where + " s'ouvre, mais le module n'y répond pas : voyez la carte des lignes "
               "ci-dessus (câble, alimentation du module).\n";
    else
        out += "Le port " + where + " ne peut pas servir : corrigez les lignes ÉCHEC ci-dessus. "
               "Sans matériel : zuna07 --simulate\n";
    return out;
}

} // namespace zuna
