#include "nri/g13_settings.h"

#include <algorithm>
#include <ctime>
#include <set>

namespace zuna::nri {

namespace {

constexpr int kChannels = 6;

int value_of(const settings::Snapshot& s, const std::string& name)
{
    const auto it = s.values.find(name);
    return it == s.values.end() ? 0 : it->second;
}

G13Record record_of(const settings::Snapshot& s, int channel)
{
    G13Record r;
    for (int k = 1; k <= 4; ++k) {
        r.max[size_t(k - 1)] = value_of(s, g13_name(channel, k, true));
        r.min[size_t(k - 1)] = value_of(s, g13_name(channel, k, false));
    }
    return r;
}

bool no_band(const G13Record& r)
{
    bool zeros = true, open = true;
    for (size_t k = 0; k < 4; ++k) {
        zeros = zeros && r.max[k] == 0 && r.min[k] == 0;
        open = open && r.max[k] >= 255 && r.min[k] <= 0;
    }
    return zeros || open;
}

Date pc_today()
{
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return Date{tm.tm_mon + 1, tm.tm_mday, tm.tm_year % 100};
}

void add_line(std::string& text, const std::string& line)
{
    if (!line.empty())
        text += (text.empty() ? "" : "\n") + line;
}

} // namespace

std::string g13_name(int channel, int measure, bool max)
{
    return "Canal " + std::to_string(channel) + "/Mesure " + std::to_string(measure) + (max ? "/max" : "/min");
}

std::vector<std::optional<settings::Band>> g13_windows(const G13Record& r)
{
    std::vector<std::optional<settings::Band>> w(4);
    if (!no_band(r))
        for (size_t k = 0; k < 4; ++k)
            w[k] = settings::Band{r.min[k], r.max[k]};
    return w;
}

settings::BandSet g13_bands(const G13View& v)
{
    settings::BandSet b;
    b.family = "NRI G13.0000";
    for (int k = 1; k <= 4; ++k)
        b.measurements.push_back("Mesure " + std::to_string(k));
    b.scale.assign(4, 255);
    b.compared.assign(4, true);
    for (int n = 1; n <= kChannels; ++n) {
        settings::ChannelBands c;
        c.channel = n;
        const auto& r = v.channels[size_t(n - 1)];
        c.enabled = r && !no_band(*r);
        c.windows = r ? g13_windows(*r) : std::vector<std::optional<settings::Band>>(4);
        b.channels.push_back(c);
    }
    if (v.coin)
        b.coin = std::vector<int>(v.coin->begin(), v.coin->end());
    for (const auto& s : v.samples)
        b.samples.push_back(std::vector<int>(s.begin(), s.end()));
    if (v.proposed_channel >= 1) {
        std::vector<settings::Band> w;
        for (size_t k = 0; k < 4; ++k)
            w.push_back({v.proposed.min[k], v.proposed.max[k]});
        b.proposed = w;
        b.proposed_channel = v.proposed_channel;
    }
    return b;
}

std::vector<settings::Setting> G13Settings::all_settings() const
{
    std::vector<settings::Setting> out;
    // The window's mode box takes 1 to 9.
    out.push_back({kG13Mode, 1, 9, true});
    for (int n = 1; n <= kChannels; ++n)
        for (int k = 1; k <= 4; ++k) {
            out.push_back({g13_name(n, k, true), 0, 255, true});
            out.push_back({g13_name(n, k, false), 0, 255, true});
        }
    return out;
}

std::string G13Settings::read(Station& s, Progress* p, settings::Snapshot& out)
{
    // As the window opening: without a stored count the link is tuned first
    // (for this run only), then the stored count is taken and the line reset.
    const Activation a = activate(s, s.g13_stored == 0, p);
    if (a.no_count)
        return delay_refusal(s);
    if (a.stopped)
        return a.message;
    if (a.silent) {
        // The tuning tried the count in use and heard nothing: a reading at
        // that count would only wait out its own time-out.
        std::string why = a.message;
        add_line(why, "Le monnayeur ne répond pas : lecture impossible.");
        return why;
    }
    const Reading r = lecture(s, p);
    if (!r.answered) {
        std::string why = a.message;
        add_line(why, r.message);
        return why;
    }
    if (r.stopped_at != 0)
        return "Lecture arrêtée : les réglages n'ont pas tous été lus.";
    if (!r.unread.empty())
        return r.message;
    if (!r.mode)
        return r.mode_garbled ? r.message : "Le monnayeur ne répond pas : le mode de mesure n'a pas été lu.";
    // The identity is kept with the settings: a read without it is not whole.
    if (!r.identity)
        return r.identity_garbled ? r.message : "Le monnayeur ne répond pas : l'identification n'a pas été lue.";
    settings::Snapshot snap;
    snap.family = code();
    snap.delay = s.delay.g13;
    snap.identity.push_back({"Equipement n°", r.identity->equipment});
    snap.identity.push_back({"Date de production", r.identity->production});
    snap.values[kG13Mode] = std::stoi(*r.mode);
    for (int n = 1; n <= kChannels; ++n) {
        const ChannelLines& l = *r.channels[size_t(n - 1)];
        const auto hi = parse_values(l.upper), lo = parse_values(l.lower);
        for (int k = 1; k <= 4; ++k) {
            snap.values[g13_name(n, k, true)] = hi[size_t(k - 1)];
            snap.values[g13_name(n, k, false)] = lo[size_t(k - 1)];
        }
    }
    out = std::move(snap);
    return "";
}

settings::WriteReport G13Settings::write(Station& s, const settings::Snapshot& target,
                                         const std::vector<std::string>& changed, Progress* p)
{
    settings::WriteReport rep;
    const std::set<std::string> wanted(changed.begin(), changed.end());
    auto verdict = [&](const std::string& name, bool held) { (held ? rep.verified : rep.failed).push_back(name); };

    if (wanted.count(kG13Mode)) {
        const int mode = value_of(target, kG13Mode);
        const ModeWrite m = write_mode(s, mode, p);
        if (m.stopped)
            return rep;
        if (!m.read) {
            rep.failed.push_back(kG13Mode);
            rep.error = m.garbled ? m.message
                                  : "Le monnayeur ne répond pas : le mode de mesure n'a pas été relu après l'écriture.";
            return rep;
        }
        verdict(kG13Mode, m.mode && std::stoi(*m.mode) == mode);
    }

    for (int n = 1; n <= kChannels; ++n) {
        std::vector<std::string> names;
        for (int k = 1; k <= 4; ++k)
            for (bool max : {true, false})
                if (wanted.count(g13_name(n, k, max)))
                    names.push_back(g13_name(n, k, max));
        if (names.empty())
            continue; // a record nothing changed in is not touched
        const G13Record r = record_of(target, n);
        const ChannelWrite w =
            write_channel(s, n, r.max, r.min, fast_units(s), today ? today() : pc_today(), p);
        if (w.stopped)
            return rep;
        if (!w.read_back) {
            rep.failed.insert(rep.failed.end(), names.begin(), names.end());
            rep.error = w.message; // not read back, or two read-backs that disagree
            return rep;
        }
        const auto hi = parse_values(w.read_back->upper), lo = parse_values(w.read_back->lower);
        for (int k = 1; k <= 4; ++k)
            for (bool max : {true, false}) {
                const std::string name = g13_name(n, k, max);
                if (wanted.count(name))
                    verdict(name, (max ? hi : lo)[size_t(k - 1)] == (max ? r.max : r.min)[size_t(k - 1)]);
            }
    }
    return rep;
}

settings::BandSet G13Settings::bands(const settings::Snapshot& s) const
{
    G13View v;
    for (int n = 1; n <= kChannels; ++n)
        v.channels[size_t(n - 1)] = record_of(s, n);
    return g13_bands(v);
}

std::unique_ptr<settings::Family> make_g13_settings() { return std::make_unique<G13Settings>(); }

} // namespace zuna::nri
