#include "app/settings_command.h"

#include <QDateTime>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "app/settings_families.h"
#include "app/station_port.h"
#include "link/module.h"
#include "link/sys_text.h"
#include "settings_file/settings_file.h"

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
        // Read once: a "<(...)" pipe has nothing left for a second read.
        const QString path = QString::fromStdString(opt.restore_file);
        QString error;
        const std::optional<QByteArray> bytes = settings::read_settings_file(path, &error);
        if (!bytes) {
            say(error.toStdString() + " Rien n'est écrit.");
            return std::nullopt;
        }
        if (const std::string fault = settings::json_fault(*bytes); !fault.empty()) {
            say(opt.restore_file + " : " + fault + " Rien n'est écrit.");
            return std::nullopt;
        }
        const std::string code = settings::family_of(*bytes);
        p.name = family_of_code(code);
        if (p.name.empty()) {
            say(opt.restore_file + " n'est pas un fichier de réglages d'une famille connue" +
                (code.empty() ? std::string(".") : " (« " + settings::shown(code) + " »).") + " Rien n'est écrit.");
            return std::nullopt;
        }
        if (!opt.family.empty() && opt.family != p.name) {
            const auto file_family = make_settings_family(p.name);
            const auto asked = make_settings_family(opt.family);
            say(opt.restore_file + " est un fichier de " + (file_family ? file_family->title() : p.name) +
                ", pas de " + (asked ? asked->title() : opt.family) + ". Rien n'est écrit.");
            return std::nullopt;
        }
        p.family = make_settings_family(p.name);
        std::string e;
        p.file = settings::from_json(*p.family, *bytes, &e);
        if (!p.file) {
            say(opt.restore_file + " : " + e + " Rien n'est écrit.");
            return std::nullopt;
        }
        return p;
    }
    p.family = make_settings_family(p.name);
    if (!p.family) {
        say("La famille " + p.name + " ne se sauvegarde pas encore.");
        return std::nullopt;
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

    // Windows that overlap are written as the file says, as a script asked;
    // but not without a word (a window would ask first).
    const auto pairs = settings::overlaps(p->family->bands(*p->file));
    const std::string overlap_warning = pairs.empty() ? "" : "attention : " + settings::overlap_statement(pairs);
    const settings::Outcome o =
        settings::restore(s, *p->family, *p->file, opt.dry_run, nullptr, [&](const settings::Comparison& c) {
            if (!overlap_warning.empty() && !c.to_write().empty())
                say(overlap_warning);
            return true;
        });
    if (!o.before.rows.empty())
        std::fputs(settings::table_text(o.before).c_str(), stdout);
    if (opt.dry_run && !overlap_warning.empty() && !o.before.to_write().empty())
        say(overlap_warning);
    std::printf("%s\n", o.message().c_str());
    if (opt.dry_run)
        return o.kind == settings::Outcome::Held && o.before.to_write().empty() ? 0 : 1;
    QString log_error;
    if (!settings::append_log(QString::fromStdString(opt.restore_file), p->family->code(), o, &log_error))
        say(log_error.toStdString());
    return o.exit_code();
}

} // namespace zuna
