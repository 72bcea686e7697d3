#include "app/options.h"

#include <QtGlobal>
#include <cstdlib>

#include "sim/catalogue.h"

namespace zuna {

namespace {
bool split(const std::string& arg, const std::string& name, std::string* value)
{
    if (arg.rfind(name + "=", 0) == 0) {
        *value = arg.substr(name.size() + 1);
        return true;
    }
    return false;
}

const std::vector<std::string>& known_families()
{
    static const std::vector<std::string> f = {"c120", "c220b", "c220", "g13", "g136", "rm3", "rm4", "al3"};
    return f;
}
} // namespace

const char* station_version() { return ZUNA_VERSION; }

std::string version_text() { return std::string("zuna07 ") + ZUNA_VERSION + " (Qt " + qVersion() + ")\n"; }

std::string usage_text()
{
    return "Usage : zuna07 [options]\n"
           "Programmateur de monnayeurs (ZUNA 07).\n\n"
           "  --simulate[=FAMILLE]  banc simulé (module et monnayeur) au lieu du port parallèle ;\n"
           "                        FAMILLE : c120, c220b, c220, g13, g136, rm3, rm4, al3\n"
           "  --sim-fault=LISTE     défauts du banc, séparés par des virgules :\n"
           "                        ligne : no-module, stuck-low, memory-dead, silent, noise,\n"
           "                        power-cut=N (coupure après la N-ième écriture) ;\n"
           "                        ligne réelle : drift=P (horloge du monnayeur P % plus lente,\n"
           "                        de -15 à 15), stall=R (R arrêts du PC par seconde) ;\n"
           "                        monnayeur qui répond faux : wrong-readback=N (N-ième écriture\n"
           "                        gardée avec un bit changé), lost-write=N (acquittée, non\n"
           "                        gardée), lost-checksum (somme de contrôle fausse après une\n"
           "                        écriture), jumping-count (un comptage saute son but),\n"
           "                        other-family (s'annonce comme une autre famille)\n"
           "  --sim-seed=N          graine des défauts aléatoires (noise, stall ; défaut 1)\n"
           "  --sim-speed=X         vitesse du PC simulé (1 = PC d'origine)\n"
           "  --sim-pace=real       le banc prend au moins 1 µs réelle par accès au port, comme\n"
           "                        un vrai PC (défaut : fast, aussi vite que possible)\n"
           "  --port PERIPHERIQUE   port parallèle : /dev/parportN (ppdev, défaut /dev/parport0)\n"
           "                        ou io:0x378 (accès direct, CAP_SYS_RAWIO)\n"
           "  --trace FICHIER       enregistre les lignes du port dans un fichier VCD\n"
           "  --data-dir DOSSIER    dossier des tables mall7.dbf et calib.dbf pour cette exécution\n"
           "  --check-port [PORT]   diagnostic du port (défaut /dev/parport0) : une ligne par\n"
           "                        vérification avec son conseil, puis l'accès au port et les\n"
           "                        pauses mesurés sur ce PC ; sur un port qui s'ouvre (ou avec\n"
           "                        --simulate) : la carte des lignes et la mesure du module ;\n"
           "                        code de sortie 0 seulement si le module y répond\n"
           "  --save FICHIER --family FAMILLE\n"
           "                        lit tout le monnayeur branché et l'enregistre dans FICHIER\n"
           "                        (.zuna.json), sans fenêtre\n"
           "  --restore FICHIER [--dry-run]\n"
           "                        compare le monnayeur au fichier, écrit ce qui diffère et vérifie,\n"
           "                        sans fenêtre ; --dry-run : compare seulement. Code de sortie :\n"
           "                        0 tout est conforme, 1 écriture non vérifiée, différence (essai)\n"
           "                        ou monnayeur muet, 2 fichier ou option invalide\n"
           "  --version             version de la station et de Qt\n"
           "  --help                cette aide\n";
}

std::optional<Options> parse_options(const std::vector<std::string>& args, std::string* error)
{
    Options o;
    auto fail = [&](const std::string& msg) -> std::optional<Options> {
        if (error)
            *error = msg;
        return std::nullopt;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string v;
        auto take_next = [&](const std::string& name) -> bool {
            if (split(a, name, &v))
                return !v.empty();
            if (a == name && i + 1 < args.size()) {
                v = args[++i];
                return !v.empty();
            }
            return false;
        };
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "--simulate") {
            o.simulate = true;
        } else if (split(a, "--simulate", &v)) {
            bool known = false;
            for (const auto& f : known_families())
                known = known || f == v;
            if (!known)
                return fail("Famille de monnayeur inconnue pour --simulate : « " + v + " ».");
            o.simulate = true;
            o.sim_family = v;
        } else if (split(a, "--sim-fault", &v)) {
            sim::Faults f;
            std::string msg;
            if (!sim::parse_faults(v, f, &msg))
                return fail(msg);
            o.sim_faults = v;
        } else if (split(a, "--sim-seed", &v)) {
            char* end = nullptr;
            const unsigned long long n = std::strtoull(v.c_str(), &end, 10);
            if (v.empty() || v[0] == '-' || *end != '\0' || n > 0xFFFFFFFFull)
                return fail("Graine simulée invalide : « " + v + " » (entier de 0 à 4294967295).");
            o.sim_seed = uint32_t(n);
        } else if (split(a, "--sim-pace", &v)) {
            if (v != "real" && v != "fast")
                return fail("Cadence simulée invalide : « " + v + " » (real ou fast).");
            o.sim_pace_real = v == "real";
        } else if (split(a, "--sim-speed", &v)) {
            char* end = nullptr;
            const double s = std::strtod(v.c_str(), &end);
            if (end == v.c_str() || *end != '\0' || !(s >= 0.1 && s <= 100))
                return fail("Vitesse simulée invalide : « " + v + " » (de 0.1 à 100).");
            o.sim_speed = s;
        } else if (a == "--port" || a.rfind("--port=", 0) == 0) {
            if (!take_next("--port"))
                return fail("--port demande un périphérique (par exemple /dev/parport0 ou io:0x378).");
            o.port = v;
            o.port_given = true;
        } else if (a == "--check-port" || a.rfind("--check-port=", 0) == 0) {
            o.check_port = true;
            // The port is optional: a following word that is no option is taken as the port.
            const bool next_is_port = a == "--check-port" && i + 1 < args.size() && !args[i + 1].empty() &&
                                      args[i + 1][0] != '-';
            if (a != "--check-port" || next_is_port) {
                if (!take_next("--check-port"))
                    return fail("--check-port= demande un port (par exemple /dev/parport0 ou io:0x378).");
                o.port = v;
                o.port_given = true;
            }
        } else if (a == "--trace" || a.rfind("--trace=", 0) == 0) {
            if (!take_next("--trace"))
                return fail("--trace demande un nom de fichier.");
            o.trace = v;
        } else if (a == "--data-dir" || a.rfind("--data-dir=", 0) == 0) {
            if (!take_next("--data-dir"))
                return fail("--data-dir demande un dossier.");
            o.data_dir = v;
        } else if (a == "--save" || a.rfind("--save=", 0) == 0) {
            if (!take_next("--save"))
                return fail("--save demande un nom de fichier.");
            o.save_file = v;
        } else if (a == "--restore" || a.rfind("--restore=", 0) == 0) {
            if (!take_next("--restore"))
                return fail("--restore demande un fichier de réglages.");
            o.restore_file = v;
        } else if (a == "--family" || a.rfind("--family=", 0) == 0) {
            if (!take_next("--family"))
                return fail("--family demande une famille (c120, c220b, c220, g13, g136, rm3, rm4, al3).");
            bool known = false;
            for (const auto& f : known_families())
                known = known || f == v;
            if (!known)
                return fail("Famille de monnayeur inconnue pour --family : « " + v + " ».");
            o.family = v;
        } else if (a == "--dry-run") {
            o.dry_run = true;
        } else {
            return fail("Option inconnue : « " + a + " ». Voir --help.");
        }
    }
    if (!o.save_file.empty() && !o.restore_file.empty())
        return fail("--save et --restore s'excluent.");
    if (!o.save_file.empty() && o.family.empty())
        return fail("--save demande aussi --family (c120, c220b, c220, g13, g136, rm3, rm4, al3).");
    if (o.dry_run && o.restore_file.empty())
        return fail("--dry-run ne s'emploie qu'avec --restore.");
    if (!o.family.empty() && o.save_file.empty() && o.restore_file.empty())
        return fail("--family ne s'emploie qu'avec --save ou --restore.");
    if (o.check_port && (!o.save_file.empty() || !o.restore_file.empty()))
        return fail("--check-port s'emploie seul.");
    if (o.simulate && o.port_given)
        return fail("--simulate et --port s'excluent : choisissez le banc simulé ou le port parallèle.");
    return o;
}

} // namespace zuna
