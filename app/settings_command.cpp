#include "app/settings_command.h"

#include <QDateTime>
#include <QFile>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "app/settings_families.h"
#include "app/station_main.h"
#include "link/module.h"
#include "link/sys_text.h"
#include "ui/settings_file.h"

namespace zuna {

namespace {

void say(const std::string& text) { std::fprintf(stderr, "zuna07 : %s\n", text.c_str()); }

// The file and its family, checked before the port is touched.
struct Plan {
    std::unique_ptr<settings::Family> family;
    std::string name; // command-line family name
    std::optional<settings::Snapshot> file;
};

std::optional<Plan> plan(const Options& opt)
{
    Plan p;
    if (!opt.save_file.empty()) {
        p.name = opt.family;
    } else {
        QFile f(QString::fromStdString(opt.restore_file));
        errno = 0;
        if (!f.open(QIODevice::ReadOnly)) {
            const int err = errno;
            say("Impossible de lire " + opt.restore_file + " : " +
                (err ? french_error(err) : f.errorString().toStdString()));
            return std::nullopt;
        }
        const std::string code = settings::family_of(f.read(4 << 20));
        p.name = family_of_code(code);
        if (p.name.empty()) {
            say(opt.restore_file + " n'est pas un fichier de réglages d'une famille connue" +
                (code.empty() ? std::string(".") : " (« " + code + " »)."));
            return std::nullopt;
        }
        if (!opt.family.empty() && opt.family != p.name) {
            const auto file_family = make_settings_family(p.name);
            const auto asked = make_settings_family(opt.family);
            say(opt.restore_file + " est un fichier de " + (file_family ? file_family->title() : p.name) +
                ", pas de " + (asked ? asked->title() : opt.family) + ". Rien n'est écrit.");
            return std::nullopt;
        }
    }
    p.family = make_settings_family(p.name);
    if (!p.family) {
        say("La famille " + p.name + " ne se sauvegarde pas encore.");
        return std::nullopt;
    }
    if (!opt.restore_file.empty()) {
        QString error;
        p.file = settings::load_file(QString::fromStdString(opt.restore_file), *p.family, &error);
        if (!p.file) {
            say(error.toStdString() + " Rien n'est écrit.");
            return std::nullopt;
        }
    }
    return p;
}

} // namespace

int run_settings_command(const Options& opt)
{
    std::optional<Plan> p = plan(opt);
    if (!p)
        return 2;

    StationPort opened = open_station_port(opt, [](const std::string& m) { say(m); });
    if (!opened.port) {
        say(opened.error);
        return 1;
    }
    if (opened.bench) {
        if (!opt.data_dir.empty())
            if (const std::string w = opened.bench->attach_module_file(opt.data_dir + "/module-simule.bin"); !w.empty())
                say(w);
        // The family's mechanism stays plugged for the run, as --simulate=FAMILY does.
        if (opt.sim_family.empty())
            opened.bench->fix_family(p->name);
    }
    Port* port = opened.port;

    Station s(*port);
    s.c120_read_timeout = kC120ReadTimeout;
    if (measure_module(s) == kNoModule) {
        say("aucun module ne répond sur le port.");
        return 1;
    }
    load_delay_counts(s);
    if (s.module_memory_silent)
        say("la mémoire du module ne répond pas : les temporisations par défaut du PC d'origine sont prises.");

    if (!opt.save_file.empty()) {
        settings::Snapshot snap;
        const std::string error = p->family->read(s, nullptr, snap);
        if (!error.empty()) {
            say(error + " Rien n'est enregistré.");
            return 1;
        }
        snap.family = p->family->code();
        snap.date = QDateTime::currentDateTime().toString("yyyy-MM-ddTHH:mm:ss").toStdString();
        QString file_error;
        if (!settings::save_file(QString::fromStdString(opt.save_file), *p->family, snap, &file_error)) {
            say(file_error.toStdString());
            return 1;
        }
        std::printf("%s : %zu réglages enregistrés dans %s\n", p->family->title().c_str(), snap.values.size(),
                    opt.save_file.c_str());
        return 0;
    }

    const settings::Outcome o = settings::restore(s, *p->family, *p->file, opt.dry_run, nullptr);
    if (!o.before.rows.empty())
        std::fputs(settings::table_text(o.before).c_str(), stdout);
    std::printf("%s\n", o.message().c_str());
    if (opt.dry_run)
        return o.kind == settings::Outcome::Held && o.before.to_write().empty() ? 0 : 1;
    QString log_error;
    if (!settings::append_log(QString::fromStdString(opt.restore_file), p->family->code(), o, &log_error))
        say(log_error.toStdString());
    return o.exit_code();
}

} // namespace zuna
