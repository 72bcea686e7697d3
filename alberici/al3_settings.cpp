#include "alberici/al3_settings.h"

#include <algorithm>
#include <map>

namespace zuna::alberici {

namespace {

const char kSilent[] = "Le monayeur ne répond pas.";
const char kLevels[] = "Niveau de sortie/";

std::string head(int n) { return "Canal " + std::to_string(n) + "/"; }
std::string parameter_name(int n, int k) { return head(n) + "Paramètre " + std::to_string(k); }
std::string delta_name(int n, int k) { return head(n) + "Delta " + std::to_string(k); }
std::string level_name(int k) { return std::string(kLevels) + (k == 0 ? "Accumulateur" : "Sortie " + std::to_string(k)); }

// A channel's settings from its record, as the window shows them.
void put_channel(std::map<std::string, int>& out, int n, const Record& r)
{
    for (int k = 1; k <= 6; ++k) {
        out[parameter_name(n, k)] = parameter(r, k);
        out[delta_name(n, k)] = delta(r, k);
    }
    out[head(n) + "Temps"] = time_ms(r);
    out[head(n) + "Valeur"] = r[kValueAddr] & 0x7F;
    out[head(n) + "Validé"] = validated(r) ? 1 : 0;
    out[head(n) + "Tolérance"] = r[kToleranceAddr];
    out[head(n) + "Sortie"] = output_index(r[kOutputAddr]);
}

int channel_of(const std::string& name)
{
    if (name.rfind("Canal ", 0) != 0)
        return 0;
    return std::atoi(name.c_str() + 6);
}

bool emptied(const settings::Snapshot& t, int n)
{
    const auto& v = t.values;
    for (int k = 1; k <= 6; ++k)
        if (v.at(parameter_name(n, k)) != 255 || v.at(delta_name(n, k)) != 255)
            return false;
    return v.at(head(n) + "Temps") == 510 && v.at(head(n) + "Valeur") == 127 && v.at(head(n) + "Validé") == 0 &&
           v.at(head(n) + "Tolérance") == 255 && v.at(head(n) + "Sortie") == 0;
}

// Sorts the names of one unit into verified and failed by what was read back.
// A unit writes every byte of its record (or the type and the levels): when
// the read-back does not hold all of them as written (another byte taken
// wrong, reads that never agreed), none of its settings is verified.
void verify(settings::WriteReport& rep, const std::vector<std::string>& names,
            const std::map<std::string, int>& got, const settings::Snapshot& target, bool unit_confirmed)
{
    for (const std::string& name : names) {
        const auto it = got.find(name);
        const bool holds = unit_confirmed && it != got.end() && it->second == target.values.at(name);
        (holds ? rep.verified : rep.failed).push_back(name);
    }
}

} // namespace

settings::BandSet bands_of(const Channels& channels, const std::optional<std::vector<int>>& coin)
{
    settings::BandSet set;
    set.family = "Alberici AL3";
    for (int k = 1; k <= 6; ++k)
        set.measurements.push_back("Mesure " + std::to_string(k));
    set.scale.assign(6, 255);
    set.compared.assign(6, true); // the coin test takes a channel only inside all six
    for (int n = 1; n <= kChannels; ++n) {
        settings::ChannelBands c;
        c.channel = n;
        const auto& r = channels[size_t(n - 1)];
        c.enabled = r && validated(*r);
        c.windows.assign(6, std::nullopt);
        if (c.enabled)
            for (int k = 1; k <= 6; ++k) {
                // Whole numbers, as the coin test compares them, drawn within the scale.
                const int p = parameter(*r, k), d = delta(*r, k);
                c.windows[size_t(k - 1)] = settings::Band{std::max(0, p - d), std::min(255, p + d)};
            }
        set.channels.push_back(c);
    }
    set.coin = coin;
    return set;
}

std::optional<Record> record_of(const settings::Snapshot& s, int n)
{
    Record r{};
    auto get = [&](const std::string& name) -> std::optional<int> {
        const auto it = s.values.find(name);
        return it == s.values.end() ? std::nullopt : std::optional<int>(it->second);
    };
    for (int k = 1; k <= 6; ++k) {
        const auto p = get(parameter_name(n, k)), d = get(delta_name(n, k));
        if (!p || !d)
            return std::nullopt;
        r[size_t(2 * (k - 1))] = uint8_t(*p);
        r[size_t(2 * k - 1)] = uint8_t(*d);
    }
    const auto t = get(head(n) + "Temps"), v = get(head(n) + "Valeur"), ok = get(head(n) + "Validé"),
               tol = get(head(n) + "Tolérance"), out = get(head(n) + "Sortie");
    if (!t || !v || !ok || !tol || !out)
        return std::nullopt;
    r[kTimeAddr] = uint8_t(*t / 2);
    r[kValueAddr] = uint8_t((*v & 0x7F) | (*ok ? 0 : 0x80));
    r[kToleranceAddr] = uint8_t(*tol);
    r[kOutputAddr] = output_mask(*out);
    return r;
}

std::vector<settings::Setting> Al3Settings::all_settings() const
{
    std::vector<settings::Setting> out;
    for (int n = 1; n <= kChannels; ++n) {
        for (int k = 1; k <= 6; ++k)
            out.push_back({parameter_name(n, k), 0, 255});
        for (int k = 1; k <= 6; ++k)
            out.push_back({delta_name(n, k), 0, 255});
        out.push_back({head(n) + "Temps", 0, 510});
        out.push_back({head(n) + "Valeur", 0, 127});
        out.push_back({head(n) + "Validé", 0, 1});
        out.push_back({head(n) + "Tolérance", 0, 255});
        out.push_back({head(n) + "Sortie", 0, 6});
    }
    out.push_back({"Type", 1, 6});
    for (int k = 0; k <= 6; ++k)
        out.push_back({level_name(k), 0, 1});
    return out;
}

std::string Al3Settings::read(Station& s, Progress* p, settings::Snapshot& out)
{
    last_.reset();
    if (!alb_usable(s))
        return "Le compte de délai ALB vaut " + std::to_string(s.delay.alb) +
               " : il faut le calibrer (ZUNA07) avant de dialoguer avec le monayeur.";
    const ReadAll all = lecture(s, p);
    if (all.stopped)
        return "Lecture arrêtée après le canal " + std::to_string(all.done) + " : les canaux suivants ne sont pas lus.";
    if (all.garbled)
        return "Le monnayeur répond, mais ses réponses sont illisibles (ligne perturbée ?) au canal " +
               std::to_string(all.done + 1) + ".";
    if (all.silent || all.done < kChannels)
        return kSilent;
    const TypeLevels t = read_type(s);
    if (!t.type || !t.levels)
        return kSilent;
    if (*t.type < 1 || *t.type > 6)
        return "Type de monnayeur inconnu (" + std::to_string(*t.type) + ").";
    out = settings::Snapshot{};
    out.family = code();
    out.delay = s.delay.alb;
    for (int n = 1; n <= kChannels; ++n)
        put_channel(out.values, n, *all.channel[size_t(n - 1)]);
    out.values["Type"] = *t.type;
    for (int k = 0; k <= 6; ++k)
        out.values[level_name(k)] = (*t.levels >> k) & 1 ? 0 : 1; // bit set: not at high level
    last_ = out;
    return "";
}

settings::WriteReport Al3Settings::write(Station& s, const settings::Snapshot& target,
                                         const std::vector<std::string>& changed, Progress* p)
{
    settings::WriteReport rep;
    last_.reset(); // what the mechanism holds is known again at the next read
    if (!alb_usable(s)) {
        rep.error = "Le compte de délai ALB vaut " + std::to_string(s.delay.alb) + " : rien n'a été envoyé.";
        return rep;
    }
    // The units holding a changed setting: a channel's record, or the type (0).
    std::map<int, std::vector<std::string>> units;
    for (const std::string& name : changed)
        if (target.values.count(name))
            units[channel_of(name)].push_back(name);
    zuna::start(p, int(units.size()));
    for (const auto& [n, names] : units) {
        if (stop_asked(p))
            break;
        if (n == 0) {
            uint8_t levels = 0;
            for (int k = 0; k <= 6; ++k)
                if (!target.values.at(level_name(k)))
                    levels = uint8_t(levels | (1u << k));
            const TypeWrite w = write_type(s, uint8_t(target.values.at("Type")), levels);
            if (!w.readback.type || !w.readback.levels) {
                rep.error = "Le monayeur ne répond plus (type et niveaux) : écriture arrêtée.";
                break;
            }
            std::map<std::string, int> got{{"Type", *w.readback.type}};
            for (int k = 0; k <= 6; ++k)
                got[level_name(k)] = (*w.readback.levels >> k) & 1 ? 0 : 1;
            verify(rep, names, got, target, w.confirmed());
            zuna::step(p);
            continue;
        }
        const std::optional<Record> want = record_of(target, n);
        if (!want)
            continue;
        std::optional<Record> back;
        bool confirmed = true; // the whole unit read back as written
        if (emptied(target, n)) {
            const WriteResult w = vider(s, n);
            back = w.readback;
            confirmed = w.confirmed();
        } else {
            const bool tolerance = std::find(names.begin(), names.end(), head(n) + "Tolérance") != names.end();
            if (tolerance)
                load_tolerance(s, n, (*want)[kToleranceAddr]);
            if (tolerance && names.size() == 1) {
                back = adjust_read(s, n);
                closing(s);
            } else {
                Settings v;
                for (int k = 1; k <= 6; ++k) {
                    v.parameter[size_t(k - 1)] = parameter(*want, k);
                    v.delta[size_t(k - 1)] = delta(*want, k);
                }
                v.output = target.values.at(head(n) + "Sortie");
                v.time_ms = target.values.at(head(n) + "Temps");
                v.value = target.values.at(head(n) + "Valeur");
                v.validated = target.values.at(head(n) + "Validé") != 0;
                const WriteResult w = write_channel(s, n, v);
                back = w.readback;
                confirmed = w.confirmed();
            }
        }
        if (!back) {
            rep.error = "Le monayeur ne répond plus (canal " + std::to_string(n) + ") : écriture arrêtée.";
            break;
        }
        std::map<std::string, int> got;
        put_channel(got, n, *back);
        verify(rep, names, got, target, confirmed);
        zuna::step(p);
    }
    zuna::finish(p);
    return rep;
}

settings::BandSet Al3Settings::bands(const settings::Snapshot& s) const
{
    Channels channels;
    for (int n = 1; n <= kChannels; ++n)
        channels[size_t(n - 1)] = record_of(s, n);
    return bands_of(channels, std::nullopt);
}

std::unique_ptr<settings::Family> make_al3_settings() { return std::make_unique<Al3Settings>(); }

} // namespace zuna::alberici
