#include "seci/seci_settings.h"

#include <map>

namespace zuna::seci {

using settings::Band;
using settings::BandSet;
using settings::ChannelBands;
using settings::Snapshot;
using settings::Setting;
using settings::WriteReport;

namespace {

const char* const kSensors[4] = {"HFU", "LF", "HFL", "+"};
const char* const kReadings[7] = {"HFU Bas", "HFU Haut", "LF Bas", "LF Haut", "HFL Bas", "HFL Haut", "+"};

bool is_rm4(const seci::Family& f) { return &f == &kRm4; }
int top_output(const seci::Family& f) { return is_rm4(f) ? 7 : 15; }
int measurement_count(const seci::Family& f) { return is_rm4(f) ? 7 : 6; }

// Where a setting lives: its channel and field (0..7 a value, 8 the flags, 9 the output).
struct Place {
    int channel;
    int field;
};
constexpr int kFlags = 8;
constexpr int kOutput = 9;

int field_of(const Record& r, int field)
{
    return field == kFlags ? r.flags : field == kOutput ? r.output : r.value[size_t(field)];
}

std::map<std::string, Place> places(const seci::Family& f)
{
    std::map<std::string, Place> out;
    for (int n = 1; n <= f.channels; ++n) {
        for (int v = 0; v < f.values; ++v)
            out[value_name(f, n, v)] = {n, v};
        out[options_name(n)] = {n, kFlags};
        out[output_name(n)] = {n, kOutput};
    }
    return out;
}

// Channel n of a snapshot (nothing when one of its settings is missing).
std::optional<Record> record_of(const seci::Family& f, const Snapshot& s, int n)
{
    Record r;
    auto get = [&](const std::string& name, int32_t& to) {
        const auto it = s.values.find(name);
        if (it == s.values.end())
            return false;
        to = it->second;
        return true;
    };
    for (int v = 0; v < f.values; ++v)
        if (!get(value_name(f, n, v), r.value[size_t(v)]))
            return std::nullopt;
    int32_t flags = 0, output = 0;
    if (!get(options_name(n), flags) || !get(output_name(n), output))
        return std::nullopt;
    r.flags = flags;
    r.output = output;
    return r;
}

} // namespace

std::string value_name(const seci::Family& f, int n, int v)
{
    (void)f;
    return "Canal " + std::to_string(n) + "/" + kSensors[v / 2] + (v % 2 == 0 ? "/max" : "/min");
}
std::string options_name(int n) { return "Canal " + std::to_string(n) + "/Options"; }
std::string output_name(int n) { return "Canal " + std::to_string(n) + "/Sortie"; }

std::string SeciSettings::code() const { return is_rm4(f_) ? "rm4" : "RM3"; }
std::string SeciSettings::title() const { return is_rm4(f_) ? "SECI RM4" : "SECI RM3"; }

std::vector<Setting> SeciSettings::all_settings() const
{
    std::vector<Setting> out;
    const int cols = f_.values / 2;
    for (int n = 1; n <= f_.channels; ++n) {
        // The window's two rows: upper bounds, then lower bounds.
        for (int row = 0; row < 2; ++row)
            for (int k = 0; k < cols; ++k) {
                const int v = 2 * k + row;
                out.push_back({value_name(f_, n, v), 0, f_.top[size_t(v)], true});
            }
        out.push_back({options_name(n), 0, 15, true});
        out.push_back({output_name(n), 0, top_output(f_), true});
    }
    return out;
}

std::string SeciSettings::read(Station& s, Progress* p, Snapshot& out)
{
    const Line l{s, &f_};
    const int32_t delay = l.delay();
    if (delay < 1)
        return "Le compte de délai " + std::string(f_.name) + " vaut " + std::to_string(delay) +
               " : il faut le calibrer (ZUNA07) avant de dialoguer avec le monnayeur.";
    const ReadResult r = lecture(l, p);
    if (r.stopped)
        return "Lecture arrêtée après le canal " + std::to_string(r.done) + " : rien n'est lu.";
    Snapshot snap;
    snap.family = code();
    snap.delay = delay;
    // A channel that answered less than a record: another mechanism, or a cut line.
    for (int n = 1; n <= f_.channels; ++n) {
        const ChannelRead& c = r.channel[size_t(n - 1)];
        if (!c.record && c.chars > 0)
            return "Le monnayeur répond, mais pas comme un SECI " + std::string(f_.name) + " (canal " +
                   std::to_string(n) + " : " + std::to_string(c.chars) + " caractère(s) au lieu de " +
                   std::to_string(f_.chars) + ") : rien n'est lu.";
    }
    for (int n = 1; n <= f_.channels; ++n) {
        const auto& rec = r.channel[size_t(n - 1)].record;
        // A channel that did not answer in full is not a channel of zeros.
        if (!rec && r.channel[size_t(n - 1)].heard)
            return "Le monnayeur répond, mais ses réponses sont illisibles (ligne perturbée ?) (canal " +
                   std::to_string(n) + ") : rien n'est lu.";
        if (!rec)
            return "Le monnayeur ne répond pas (canal " + std::to_string(n) + ") : rien n'est lu.";
        for (int v = 0; v < f_.values; ++v)
            snap.values[value_name(f_, n, v)] = rec->value[size_t(v)];
        snap.values[options_name(n)] = rec->flags;
        snap.values[output_name(n)] = rec->output;
    }
    out = std::move(snap);
    return "";
}

WriteReport SeciSettings::write(Station& s, const Snapshot& target, const std::vector<std::string>& changed,
                                Progress* p)
{
    WriteReport rep;
    const std::map<std::string, Place> where = places(f_);
    // The changed settings by channel, in channel order: one record write each.
    std::map<int, std::vector<std::pair<std::string, int>>> units;
    for (const std::string& name : changed) {
        const auto it = where.find(name);
        if (it == where.end()) {
            rep.failed.push_back(name);
            continue;
        }
        units[it->second.channel].push_back({name, it->second.field});
    }
    const Line l{s, &f_};
    start(p, int(units.size()));
    for (const auto& [n, names] : units) {
        if (stop_asked(p))
            break;
        const std::optional<Record> r = record_of(f_, target, n);
        const WriteResult w = r ? write_and_read_back(l, n, *r) : WriteResult{};
        if (!w.sent) {
            for (const auto& nf : names)
                rep.failed.push_back(nf.first);
            rep.error = "Le canal " + std::to_string(n) + " du fichier ne peut pas être écrit : rien n'est envoyé.";
            break;
        }
        if (!w.readback.record) {
            for (const auto& nf : names)
                rep.failed.push_back(nf.first);
            if (!w.settled) { // it answers, but what the channel holds is not known
                rep.error = "Deux relectures du canal " + std::to_string(n) + " ne concordent pas.";
                step(p);
                continue;
            }
            rep.error = "Le monnayeur ne répond pas à la relecture du canal " + std::to_string(n) + ".";
            break;
        }
        // Each setting against what the mechanism gives back of the record;
        // the record is written whole, so a read-back that differs anywhere
        // (another field taken wrong) verifies none of them.
        for (const auto& [name, field] : names)
            (w.confirmed() && field_of(*w.readback.record, field) == field_of(w.expected, field) ? rep.verified
                                                                                                 : rep.failed)
                .push_back(name);
        step(p);
    }
    finish(p);
    return rep;
}

BandSet SeciSettings::bands(const Snapshot& s) const
{
    BandSet b = empty_bands(f_);
    for (int n = 1; n <= f_.channels; ++n)
        b.channels.push_back(channel_bands(f_, n, record_of(f_, s, n)));
    return b;
}

std::unique_ptr<settings::Family> make_rm3_settings() { return std::make_unique<SeciSettings>(kRm3); }
std::unique_ptr<settings::Family> make_rm4_settings() { return std::make_unique<SeciSettings>(kRm4); }

BandSet empty_bands(const seci::Family& f)
{
    BandSet b;
    b.family = is_rm4(f) ? "SECI RM4" : "SECI RM3";
    for (int m = 0; m < measurement_count(f); ++m) {
        b.measurements.push_back(kReadings[m]);
        // RM4 sensor readings are bytes and its "+" 16-bit; the RM3 readings
        // are 16-bit words measuring up to 5519, the calibration's limit.
        b.scale.push_back(is_rm4(f) ? (m < 6 ? 255 : 65535) : 5519);
    }
    return b;
}

ChannelBands channel_bands(const seci::Family& f, int n, const std::optional<Record>& r)
{
    ChannelBands c;
    c.channel = n;
    c.windows.assign(size_t(measurement_count(f)), std::nullopt);
    c.enabled = r && r->output != f.empty_output;
    if (!c.enabled)
        return c;
    for (int s = 0; s < 3; ++s) {
        // Flag bit set: the sensor compares the low reading (the window's black font).
        const int m = ((r->flags >> s) & 1) ? 2 * s : 2 * s + 1;
        c.windows[size_t(m)] = Band{r->value[size_t(2 * s + 1)], r->value[size_t(2 * s)]};
    }
    if (is_rm4(f))
        c.windows[6] = Band{r->value[7], r->value[6]};
    return c;
}

std::vector<int> readings(const seci::Family& f, const Record& coin)
{
    return std::vector<int>(coin.value.begin(), coin.value.begin() + measurement_count(f));
}

BandSet window_bands(const seci::Family& f, std::span<const std::optional<Record>> held,
                     const std::optional<Record>& coin, const Teach* teach)
{
    BandSet b = empty_bands(f);
    for (int n = 1; n <= f.channels; ++n)
        b.channels.push_back(channel_bands(f, n, size_t(n) <= held.size() ? held[size_t(n - 1)] : std::nullopt));
    if (coin)
        b.coin = readings(f, *coin);
    if (teach) {
        for (const Record& r : teach->samples)
            b.samples.push_back(readings(f, r));
        if (teach->proposed) {
            // Readings the validation does not bound get a window that accepts nothing.
            const ChannelBands c = channel_bands(f, teach->channel, teach->proposed);
            std::vector<Band> proposed;
            for (const auto& w : c.windows)
                proposed.push_back(w ? *w : Band{1, 0});
            b.proposed = proposed;
            b.proposed_channel = teach->channel;
        }
    }
    return b;
}

} // namespace zuna::seci
