#include "settings/settings.h"

#include <algorithm>
#include <set>

namespace zuna::settings {

std::string shown(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            static const char* hex = "0123456789ABCDEF";
            out += "\\u00";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::string check(const Family& f, const Snapshot& s)
{
    if (s.format > kFormat)
        return "Ce fichier est d'un format plus récent (" + std::to_string(s.format) +
               ") que celui de cette station (" + std::to_string(kFormat) + ").";
    if (s.format < 1)
        return "Format de fichier inconnu (" + std::to_string(s.format) + ").";
    if (s.family != f.code())
        return "Ce fichier est celui d'un autre monnayeur (« " + shown(s.family) + " »), pas d'un " + f.title() + ".";
    const std::vector<Setting> list = f.all_settings();
    std::set<std::string> known;
    for (const Setting& setting : list) {
        known.insert(setting.name);
        const auto it = s.values.find(setting.name);
        if (it == s.values.end())
            return "Le réglage « " + setting.name + " » manque.";
        if (it->second < setting.min || it->second > setting.max)
            return "Le réglage « " + setting.name + " » vaut " + std::to_string(it->second) + ", hors de " +
                   std::to_string(setting.min) + ".." + std::to_string(setting.max) + ".";
    }
    for (const auto& [name, value] : s.values)
        if (!known.count(name))
            return "Le réglage « " + shown(name) + " » n'existe pas sur un " + f.title() + ".";
    const size_t size = f.image_size();
    if (size == 0 && !s.image.empty())
        return "Un " + f.title() + " n'a pas d'image mémoire : le fichier en contient une.";
    if (size != 0 && !s.image.empty()) {
        if (s.image.size() != size)
            return "L'image mémoire a " + std::to_string(s.image.size()) + " octets au lieu de " +
                   std::to_string(size) + ".";
        // Both present: they must say the same, or nobody knows which one the author meant.
        for (const auto& [name, value] : f.from_image(s.image)) {
            const auto it = s.values.find(name);
            if (it != s.values.end() && it->second != value)
                return "Le réglage « " + name + " » vaut " + std::to_string(it->second) +
                       " mais l'image mémoire du fichier dit " + std::to_string(value) + ".";
        }
    }
    return "";
}

std::vector<std::string> Comparison::to_write() const
{
    std::vector<std::string> out;
    for (const Row& r : rows)
        if (r.writable && r.differs())
            out.push_back(r.name);
    return out;
}

Comparison compare(const Family& f, const Snapshot& mechanism, const Snapshot& file)
{
    Comparison c;
    for (const Setting& setting : f.all_settings()) {
        Row r;
        r.name = setting.name;
        r.writable = setting.writable;
        const auto m = mechanism.values.find(setting.name);
        if (m != mechanism.values.end())
            r.mechanism = m->second;
        const auto v = file.values.find(setting.name);
        r.file = v == file.values.end() ? 0 : v->second;
        c.rows.push_back(r);
    }
    auto text_of = [](const Snapshot& s, const std::string& name) {
        for (const auto& [n, v] : s.identity)
            if (n == name)
                return v;
        return std::string();
    };
    std::vector<std::string> names;
    for (const Snapshot* s : {&mechanism, &file})
        for (const auto& [n, v] : s->identity)
            if (std::find(names.begin(), names.end(), n) == names.end())
                names.push_back(n);
    for (const std::string& n : names)
        c.identity.push_back({n, {text_of(mechanism, n), text_of(file, n)}});
    return c;
}

std::optional<Comparison> read_and_compare(Station& s, Family& f, const Snapshot& file, Progress* p,
                                          std::string* error)
{
    Snapshot now;
    const std::string e = f.read(s, p, now);
    if (!e.empty()) {
        if (error)
            *error = e;
        return std::nullopt;
    }
    return compare(f, now, file);
}

Outcome write_and_verify(Station& s, Family& f, const Snapshot& file, const Comparison& before, Progress* p)
{
    Outcome o;
    o.before = before;
    const std::vector<std::string> changed = before.to_write();
    if (changed.empty())
        return o;
    const WriteReport w = f.write(s, file, changed, p);
    if (stop_asked(p) && w.error.empty() && w.verified.size() + w.failed.size() < changed.size()) {
        o.kind = Outcome::Stopped;
        o.written = w.verified;
        o.failed = w.failed;
        for (const std::string& n : changed)
            if (std::find(w.verified.begin(), w.verified.end(), n) == w.verified.end() &&
                std::find(w.failed.begin(), w.failed.end(), n) == w.failed.end())
                o.not_written.push_back(n);
        return o;
    }
    // The second read is the proof: a setting counts as written only when the
    // mechanism now holds the file's value.
    Snapshot after;
    const std::string e = f.read(s, p, after);
    if (!e.empty()) {
        // Nothing is claimed beyond what each write verified on its own.
        o.kind = Outcome::NoAnswer;
        o.error = w.error.empty() ? e : w.error;
        o.written = w.verified;
        for (const std::string& n : changed)
            if (std::find(w.verified.begin(), w.verified.end(), n) == w.verified.end())
                o.not_written.push_back(n);
        return o;
    }
    for (const std::string& n : changed) {
        const auto it = after.values.find(n);
        const bool holds = it != after.values.end() && it->second == file.values.at(n);
        (holds ? o.written : o.failed).push_back(n);
    }
    // A unit written carries settings beside the changed ones (a whole
    // record, a block): one that held the file's value and no longer does is
    // said too.
    for (const Row& r : before.rows) {
        const auto it = after.values.find(r.name);
        if (r.writable && !r.differs() && it != after.values.end() && it->second != r.file)
            o.failed.push_back(r.name);
    }
    if (!o.failed.empty())
        o.kind = w.error.empty() ? Outcome::NotHeld : Outcome::NoAnswer;
    o.error = w.error;
    return o;
}

Outcome restore(Station& s, Family& f, const Snapshot& file, bool dry_run, Progress* p,
                const std::function<bool(const Comparison&)>& before)
{
    std::string error;
    const std::optional<Comparison> c = read_and_compare(s, f, file, p, &error);
    if (!c) {
        Outcome o;
        o.kind = Outcome::NoAnswer;
        o.error = error;
        o.dry_run = dry_run;
        return o;
    }
    if (dry_run || (before && !before(*c))) {
        Outcome o;
        o.before = *c;
        o.dry_run = dry_run;
        o.not_written = c->to_write();
        if (!dry_run)
            o.kind = Outcome::Stopped;
        return o;
    }
    return write_and_verify(s, f, file, *c, p);
}

namespace {
std::string join_names(const std::vector<std::string>& names)
{
    std::string out;
    for (const std::string& n : names)
        out += "\n  " + n;
    return out;
}
} // namespace

std::string Outcome::message() const
{
    // The first read failed: nothing compared, nothing written (a dry run
    // says so as the restore does, never that nothing differs).
    if (kind == NoAnswer && before.rows.empty() && written.empty() && failed.empty())
        return (error.empty() ? std::string("Le monayeur ne répond pas.") : error) + "\nRien n'est écrit.";
    if (dry_run) {
        const size_t n = before.to_write().size();
        return n == 0 ? "Le monnayeur a déjà tous les réglages du fichier."
                      : std::to_string(n) + " réglage" + (n > 1 ? "s" : "") + " à écrire (essai : rien n'est écrit).";
    }
    if (kind == Held) {
        if (written.empty())
            return "Le monnayeur a déjà tous les réglages du fichier : rien n'est écrit.";
        return std::to_string(written.size()) + " réglage" + (written.size() > 1 ? "s écrits, tous vérifiés" : " écrit, vérifié");
    }
    std::string out;
    if (kind == Stopped)
        out = written.empty() && failed.empty() ? "Restauration abandonnée : rien n'est écrit." : "Restauration arrêtée.";
    else if (kind == NoAnswer)
        out = error.empty() ? "Le monayeur ne répond pas." : error;
    else
        out = "Des réglages ne tiennent pas la valeur du fichier.";
    if (!written.empty())
        out += "\nÉcrits et vérifiés :" + join_names(written);
    if (!failed.empty())
        out += "\nNe tiennent pas la valeur du fichier :" + join_names(failed);
    // A unit the mechanism stopped answering during may have been written:
    // nothing read it back, so it is said as neither written nor verified.
    if (!not_written.empty() && !(kind == Stopped && written.empty() && failed.empty()))
        out += (kind == NoAnswer ? "\nNon écrits ou non vérifiés :" : "\nNon écrits :") + join_names(not_written);
    return out;
}

std::string table_text(const Comparison& c)
{
    size_t width = 7;
    for (const Row& r : c.rows)
        width = std::max(width, r.name.size());
    auto pad = [](std::string s, size_t w) {
        // Pads by characters, not bytes: names carry accents.
        size_t chars = 0;
        for (unsigned char ch : s)
            chars += (ch & 0xC0) != 0x80;
        if (chars < w)
            s.append(w - chars, ' ');
        return s;
    };
    std::string out = pad("Réglage", width) + "  " + pad("Monnayeur", 10) + "  " + pad("Fichier", 8) + "\n";
    for (const auto& [name, values] : c.identity)
        out += pad(shown(name), width) + "  " + pad(shown(values.first), 10) + "  " + pad(shown(values.second), 8) +
               (values.first != values.second ? "  (lecture seule)" : "") + "\n";
    for (const Row& r : c.rows) {
        out += pad(r.name, width) + "  " + pad(r.mechanism ? std::to_string(*r.mechanism) : "non lu", 10) + "  " +
               pad(std::to_string(r.file), 8);
        if (r.differs())
            out += r.writable ? "  *" : "  (lecture seule)";
        out += "\n";
    }
    return out;
}

std::string log_header() { return "date;heure;famille;identité;réglages écrits;résultat"; }

std::string log_line(const std::string& date, const std::string& time, const std::string& family, const Outcome& o)
{
    std::string identity;
    for (const auto& [name, values] : o.before.identity)
        if (!values.first.empty())
            identity += (identity.empty() ? "" : " ") + values.first;
    // A field holding the separator, a quote or a line break is quoted, its
    // quotes doubled: a spreadsheet reads it back as one column.
    // A NUL or another control byte (a reader stops at it) is written as \u00XX.
    auto field = [](const std::string& text) {
        std::string s;
        for (const char c : text)
            s += c == '\r' || c == '\n' || c == '\t' ? std::string(1, c) : shown(std::string(1, c));
        if (s.find_first_of(";\"\r\n") == std::string::npos)
            return s;
        std::string out = "\"";
        for (const char c : s)
            out += c == '"' ? std::string("\"\"") : std::string(1, c);
        return out + "\"";
    };
    const char* result = o.kind == Outcome::Held      ? "vérifié"
                         : o.kind == Outcome::NotHeld ? "non tenu"
                         : o.kind == Outcome::Stopped ? "arrêté"
                                                      : "sans réponse";
    return field(date) + ";" + field(time) + ";" + field(family) + ";" + field(identity) + ";" +
           std::to_string(o.written.size()) + ";" + result;
}

} // namespace zuna::settings
