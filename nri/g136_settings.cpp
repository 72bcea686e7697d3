#include "nri/g136_settings.h"

#include <algorithm>
#include <map>
#include <set>

namespace zuna::nri::g136 {

namespace {

const char* const kMeasureNames = "ABCDEFGHIJKLMNOP";

std::string table_name(const char* table, int channel) { return std::string(table) + "/Canal " + std::to_string(channel); }
constexpr const char* kOutput = "Signal Sortie";
constexpr const char* kValidation = "Valid canal";
constexpr const char* kCoil = "Sortie bobine";
std::string function_name(int b) { return "Fonction byte " + std::to_string(b); }
constexpr const char* kOffsetA = "Offset A";
constexpr const char* kOffsetE = "Offset E";

int value_of(const settings::Snapshot& s, const std::string& name)
{
    const auto it = s.values.find(name);
    return it == s.values.end() ? 0 : it->second;
}

Block block_of(const settings::Snapshot& s, int n)
{
    Block b{};
    for (int k = 1; k <= 6; ++k) {
        b[size_t(2 * (k - 1))] = value_of(s, pair_name(n, k, "max"));
        b[size_t(2 * (k - 1) + 1)] = value_of(s, pair_name(n, k, "min"));
    }
    return b;
}

std::array<int, 6> selectors_of(const settings::Snapshot& s, int n)
{
    std::array<int, 6> t{};
    for (int k = 1; k <= 6; ++k)
        t[size_t(k - 1)] = value_of(s, pair_name(n, k, "mesure"));
    return t;
}

Tables tables_of(const settings::Snapshot& s)
{
    Tables t;
    for (int c = 1; c <= kChannels; ++c) {
        t.output[size_t(c - 1)] = value_of(s, table_name(kOutput, c));
        t.validation[size_t(c - 1)] = value_of(s, table_name(kValidation, c));
        t.coil[size_t(c - 1)] = value_of(s, table_name(kCoil, c));
    }
    for (int b = 1; b <= 3; ++b)
        t.function[size_t(b - 1)] = value_of(s, function_name(b));
    t.offset_a = value_of(s, kOffsetA);
    t.offset_e = value_of(s, kOffsetE);
    return t;
}

void put_tables(std::map<std::string, int>& v, const Tables& t)
{
    for (int c = 1; c <= kChannels; ++c) {
        v[table_name(kOutput, c)] = t.output[size_t(c - 1)];
        v[table_name(kValidation, c)] = t.validation[size_t(c - 1)];
        v[table_name(kCoil, c)] = t.coil[size_t(c - 1)];
    }
    for (int b = 1; b <= 3; ++b)
        v[function_name(b)] = t.function[size_t(b - 1)];
    v[kOffsetA] = t.offset_a;
    v[kOffsetE] = t.offset_e;
}

bool no_band(const Block& b)
{
    bool zeros = true, open = true;
    for (int k = 0; k < 6; ++k) {
        const int hi = b[size_t(2 * k)], lo = b[size_t(2 * k + 1)];
        zeros = zeros && hi == 0 && lo == 0;
        open = open && hi >= 255 && lo <= 0;
    }
    return zeros || open;
}

// A channel's window per measurement: the pairs checking it, intersected.
std::vector<std::optional<settings::Band>> windows_of(const Block& b, const std::array<int, 6>& sel)
{
    std::vector<std::optional<settings::Band>> w(kMeasures);
    for (size_t k = 0; k < 6; ++k) {
        const int m = sel[k];
        if (m < 0 || m >= kMeasures)
            continue; // a selector read as no digit checks nothing
        const settings::Band pair{b[2 * k + 1], b[2 * k]};
        auto& cur = w[size_t(m)];
        cur = cur ? settings::Band{std::max(cur->low, pair.low), std::min(cur->high, pair.high)} : pair;
    }
    return w;
}

} // namespace

std::string pair_name(int channel, int pair, const char* what)
{
    return "Canal " + std::to_string(channel) + "/Paire " + std::to_string(pair) + "/" + what;
}

settings::BandSet bands(const View& v)
{
    settings::BandSet b;
    b.family = "NRI G13.6000";
    for (int m = 0; m < kMeasures; ++m)
        b.measurements.push_back(std::string(1, kMeasureNames[m]));
    b.scale.assign(kMeasures, 255);
    b.compared.assign(kMeasures, true);
    for (int n = 1; n <= kChannels; ++n) {
        settings::ChannelBands c;
        c.channel = n;
        const auto& blk = v.channels[size_t(n - 1)];
        const auto& sel = v.selectors[size_t(n - 1)];
        c.enabled = blk && sel && !no_band(*blk);
        c.windows = c.enabled ? windows_of(*blk, *sel) : std::vector<std::optional<settings::Band>>(kMeasures);
        b.channels.push_back(c);
    }
    if (v.coin)
        b.coin = std::vector<int>(v.coin->begin(), v.coin->end());
    for (const Measures& m : v.samples)
        b.samples.push_back(std::vector<int>(m.begin(), m.end()));
    if (v.proposed_channel >= 1) {
        // The view draws a proposed band on every measurement: one no pair
        // checks is not limited by the channel, its whole scale.
        std::vector<settings::Band> w;
        for (const auto& x : windows_of(v.proposed, v.proposed_selectors))
            w.push_back(x ? *x : settings::Band{0, 255});
        b.proposed = w;
        b.proposed_channel = v.proposed_channel;
    }
    return b;
}

std::vector<settings::Setting> Settings::all_settings() const
{
    std::vector<settings::Setting> out;
    for (int n = 1; n <= kChannels; ++n)
        for (int k = 1; k <= 6; ++k) {
            out.push_back({pair_name(n, k, "mesure"), 0, kMeasures - 1, true});
            out.push_back({pair_name(n, k, "max"), 0, 255, true});
            out.push_back({pair_name(n, k, "min"), 0, 255, true});
        }
    for (const char* t : {kOutput, kValidation})
        for (int c = 1; c <= kChannels; ++c)
            out.push_back({table_name(t, c), 0, 255, true});
    for (int c = 1; c <= kChannels; ++c)
        out.push_back({table_name(kCoil, c), 0, 15, true});
    for (int b = 1; b <= 3; ++b)
        out.push_back({function_name(b), 0, 255, true});
    out.push_back({kOffsetA, 0, 255, true});
    out.push_back({kOffsetE, 0, 255, true});
    return out;
}

std::string Settings::read(Station& s, Progress* p, settings::Snapshot& out)
{
    if (s.delay.g136 < 1)
        return "Le compte de délai G136 vaut " + std::to_string(s.delay.g136) +
               " : il faut le calibrer (ZUNA07) avant de dialoguer avec le monayeur.";
    const Reading r = lecture(s, p);
    if (!r.answered || !r.selectors || r.stopped_at != 0 || !r.channels.back())
        return r.message.empty() ? "Le monayeur ne répond pas : lecture impossible." : r.message;
    for (int n = 1; n <= kChannels; ++n)
        for (int k = 0; k < 6; ++k)
            if ((*r.selectors)[size_t(6 * (n - 1) + k)] > 15)
                return "La mesure contrôlée par la paire " + std::to_string(k + 1) + " du canal " + std::to_string(n) +
                       " n'a pas été lue correctement : lecture impossible.";
    const TablesRead t = read_tables(s, p);
    if (!t.tables)
        return t.message;
    settings::Snapshot snap;
    snap.family = code();
    snap.delay = s.delay.g136;
    for (int n = 1; n <= kChannels; ++n) {
        const Block& b = *r.channels[size_t(n - 1)];
        for (int k = 1; k <= 6; ++k) {
            snap.values[pair_name(n, k, "mesure")] = (*r.selectors)[size_t(6 * (n - 1) + k - 1)];
            snap.values[pair_name(n, k, "max")] = b[size_t(2 * (k - 1))];
            snap.values[pair_name(n, k, "min")] = b[size_t(2 * (k - 1) + 1)];
        }
    }
    put_tables(snap.values, *t.tables);
    out = std::move(snap);
    return "";
}

settings::WriteReport Settings::write(Station& s, const settings::Snapshot& target,
                                      const std::vector<std::string>& changed, Progress* p)
{
    settings::WriteReport rep;
    const std::set<std::string> wanted(changed.begin(), changed.end());
    auto verdict = [&](const std::string& name, bool held) { (held ? rep.verified : rep.failed).push_back(name); };
    auto fail_all = [&](const std::vector<std::string>& names, const std::string& why) {
        rep.failed.insert(rep.failed.end(), names.begin(), names.end());
        rep.error = why;
    };

    for (int n = 1; n <= kChannels; ++n) {
        std::vector<std::string> limits, selectors;
        for (int k = 1; k <= 6; ++k) {
            for (const char* what : {"max", "min"})
                if (wanted.count(pair_name(n, k, what)))
                    limits.push_back(pair_name(n, k, what));
            if (wanted.count(pair_name(n, k, "mesure")))
                selectors.push_back(pair_name(n, k, "mesure"));
        }
        if (limits.empty() && selectors.empty())
            continue; // a channel nothing changed in is not touched
        const Block block = block_of(target, n);
        const std::string silent = "Le monayeur ne répond pas : le canal " + std::to_string(n) +
                                   " n'a pas été relu après l'écriture.";
        std::optional<Block> back;
        std::optional<ModelWrite> model;
        const std::array<int, 6> sel = selectors_of(target, n);
        if (selectors.empty()) {
            const ChannelWrite w = write_channel(s, n, block, p);
            if (!w.sent)
                return rep; // stopped before anything was sent
            back = w.read_back;
        } else {
            // The selectors live in block "13"; their only verified write is
            // the model write, which writes the channel's block first.
            model = write_model(s, n, block, sel, p);
            if (!model->block.sent)
                return rep;
            back = model->block.read_back;
        }
        if (!back) {
            fail_all(limits, silent);
            fail_all(selectors, silent);
            return rep;
        }
        for (int k = 1; k <= 6; ++k)
            for (int h = 0; h < 2; ++h) {
                const std::string name = pair_name(n, k, h == 0 ? "max" : "min");
                if (wanted.count(name))
                    verdict(name, (*back)[size_t(2 * (k - 1) + h)] == block[size_t(2 * (k - 1) + h)]);
            }
        if (!model)
            continue;
        if (!model->selectors) {
            fail_all(selectors, "Le monayeur ne répond pas : les mesures contrôlées (bloc 13) n'ont pas été relues.");
            return rep;
        }
        for (int k = 1; k <= 6; ++k) {
            const std::string name = pair_name(n, k, "mesure");
            if (wanted.count(name))
                verdict(name, model->selectors_written &&
                                  (*model->selectors)[size_t(6 * (n - 1) + k - 1)] == sel[size_t(k - 1)]);
        }
    }

    std::vector<std::string> tables;
    for (const settings::Setting& setting : all_settings())
        if (setting.name.rfind("Canal ", 0) != 0 && wanted.count(setting.name))
            tables.push_back(setting.name);
    if (tables.empty())
        return rep;
    // The tables are one write: all four blocks, then all five read back.
    const Tables t = tables_of(target);
    const TablesWrite w = write_tables(s, t, p);
    if (w.stopped)
        return rep;
    if (!w.read_back) {
        fail_all(tables, "Le monayeur ne répond pas : les tables n'ont pas été relues après l'écriture.");
        return rep;
    }
    std::map<std::string, int> back;
    put_tables(back, *w.read_back);
    for (const std::string& name : tables)
        verdict(name, back.at(name) == value_of(target, name));
    return rep;
}

settings::BandSet Settings::bands(const settings::Snapshot& s) const
{
    View v;
    for (int n = 1; n <= kChannels; ++n) {
        v.channels[size_t(n - 1)] = block_of(s, n);
        v.selectors[size_t(n - 1)] = selectors_of(s, n);
    }
    return g136::bands(v);
}

} // namespace zuna::nri::g136

namespace zuna::nri {
std::unique_ptr<settings::Family> make_g136_settings() { return std::make_unique<g136::Settings>(); }
} // namespace zuna::nri
