// The settings files of both NRI families on the simulated bench: a restore
// writes only the records / blocks holding what changed (seen on a recording
// port) and leaves the mechanism equal to the file; a mechanism that stops
// part-way is reported as it is; files a family cannot hold are refused; the
// bands follow the mechanism's memory.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "link/module.h"
#include "nri/g136_settings.h"
#include "nri/g13_settings.h"
#include "settings/settings.h"
#include "sim/catalogue.h"
#include "sim/g136_mech.h"
#include "sim/g13_mech.h"
#include "tests/common/recording_port.h"
#include "settings_file/settings_file.h"

using namespace zuna;
using test::RecordingPort;

namespace {

struct Bench {
    sim::SimSetup setup;
    sim::Mechanism* mech;
    RecordingPort rec{setup.bench()};
    Station s{rec};
    Bench(const char* family, const sim::Faults& f = {}) : setup(1.0, f, "")
    {
        mech = setup.plug(family);
        s.measured_module_count = measure_module(*s.port);
        load_delay_counts(s); // no stored G13 count: the G13 read tunes first
    }
    sim::G13Mechanism& g13() { return *static_cast<sim::G13Mechanism*>(mech); }
    sim::G136Mechanism& g136() { return *static_cast<sim::G136Mechanism*>(mech); }
};

// The characters the host sent at `per` writes per unit (start 0, eight data
// bits, a stop 1); writes of another rate and reads break the stream.
std::string sent_text(const std::vector<RecordingPort::Event>& events, int64_t per)
{
    std::string out;
    std::vector<int> units;
    auto flush = [&] {
        for (size_t p = 0; p + 10 <= units.size();) {
            if (units[p] != 0 || units[p + 9] != 1) {
                ++p;
                continue;
            }
            uint8_t c = 0;
            for (int b = 0; b < 8; ++b)
                c |= uint8_t(units[p + 1 + size_t(b)] << b);
            out += char(c);
            p += 10;
        }
        units.clear();
        out += '|';
    };
    for (const auto& e : events) {
        if (e.kind == RecordingPort::Write && e.count % per == 0)
            units.insert(units.end(), size_t(e.count / per), e.value & 1);
        else if (e.kind == RecordingPort::Write || e.kind == RecordingPort::Read)
            flush();
    }
    flush();
    return out;
}

// Two characters after each `lead` in the text: the records a write selected.
std::set<std::string> after(const std::string& text, char lead, size_t n)
{
    std::set<std::string> out;
    for (size_t p = 0; (p = text.find(lead, p)) != std::string::npos; ++p)
        if (p + n < text.size() && text[p + n] != '|')
            out.insert(text.substr(p + 1, n));
    return out;
}

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

struct Family {
    const char* plug;
    std::function<std::unique_ptr<settings::Family>()> make;
    // Three settings changed through the family's own link writes.
    std::function<void(Bench&)> change;
    std::vector<std::string> changed;
    // The records the restore's writes select, read from the line.
    std::function<std::set<std::string>(Bench&)> touched;
    std::set<std::string> expected_touched;
};

std::unique_ptr<settings::Family> g13_family()
{
    auto f = std::make_unique<nri::G13Settings>();
    f->today = [] { return nri::Date{12, 7, 26}; };
    return f;
}

std::vector<Family> families()
{
    return {
        {"g13", g13_family,
         [](Bench& b) {
             nri::write_mode(b.s, 5, nullptr);
             nri::write_channel(b.s, 2, {151, 104, 183, 58}, {137, 91, 170, 47}, nri::fast_units(b.s), {12, 7, 26},
                                nullptr);
             nri::write_channel(b.s, 4, {180, 120, 160, 70}, {165, 108, 148, 61}, nri::fast_units(b.s), {12, 7, 26},
                                nullptr);
         },
         {"Canal 2/Mesure 1/max", "Canal 4/Mesure 4/min", "Mode"},
         [](Bench& b) {
             // Channel writes at the fast rate ("D" and the digit), the mode at the slow one ("J").
             std::set<std::string> t;
             for (const std::string& d : after(sent_text(b.rec.events, nri::fast_units(b.s) + 1), 'D', 1))
                 t.insert("D" + d);
             for (const std::string& j : after(sent_text(b.rec.events, b.s.delay.g13 + 1), 'J', 2))
                 t.insert("J" + j);
             return t;
         },
         {"D2", "D4", "J03"}},
        {"g136", nri::make_g136_settings,
         [](Bench& b) {
             nri::g136::Block c5 = {170, 150, 125, 108, 190, 172, 85, 70, 245, 226, 60, 44};
             c5[3] = 109;
             nri::g136::write_model(b.s, 5, c5, {4, 6, 8, 10, 12, 15}, nullptr);
             nri::g136::Tables t = *nri::g136::read_tables(b.s, nullptr).tables;
             t.offset_a = 77;
             nri::g136::write_tables(b.s, t, nullptr);
         },
         {"Canal 5/Paire 2/min", "Canal 5/Paire 6/mesure", "Offset A"},
         [](Bench& b) {
             // "Z" and the block address of every write.
             return after(sent_text(b.rec.events, b.s.delay.g136 + 1), 'Z', 2);
         },
         // Channel 5's block and block "13", then the four table blocks.
         {"07", "13", "0F", "11", "12", "18"}},
    };
}

} // namespace

TEST(NriSettings, RestoreWritesOnlyWhatChangedAndLeavesTheMechanismAsTheFile)
{
    for (const Family& fam : families()) {
        SCOPED_TRACE(fam.plug);
        Bench b(fam.plug);
        auto f = fam.make();
        settings::Snapshot file;
        ASSERT_EQ(f->read(b.s, nullptr, file), "");
        EXPECT_EQ(settings::check(*f, file), "");
        EXPECT_EQ(file.family, f->code());
        if (std::string(fam.plug) == "g13") {
            EXPECT_EQ(b.s.g13_stored, b.s.delay.g13) << "the read tuned the link for this run";
            EXPECT_EQ(file.delay, b.s.delay.g13);
            EXPECT_EQ(file.values.at("Mode"), 3);
            EXPECT_EQ(file.values.at("Canal 2/Mesure 1/max"), 150);
            EXPECT_EQ(file.identity, (std::vector<std::pair<std::string, std::string>>{
                                         {"Equipement n°", "204518 0031277 16302"},
                                         {"Date de production", "15/03/19"}}));
        } else {
            EXPECT_EQ(file.values.at("Canal 5/Paire 2/min"), 108);
            EXPECT_EQ(file.values.at("Canal 5/Paire 6/mesure"), 14);
            EXPECT_EQ(file.values.at("Sortie bobine/Canal 2"), 2);
            EXPECT_EQ(file.values.at("Offset A"), 30);
        }
        // The file as a person would edit it reads back the same.
        std::string error;
        const auto again = settings::from_json(*f, settings::to_json(*f, file), &error);
        ASSERT_TRUE(again) << error;
        EXPECT_EQ(again->values, file.values);

        fam.change(b);
        b.rec.events.clear();
        std::vector<std::string> asked;
        const settings::Outcome o = settings::restore(b.s, *f, file, false, nullptr, [&](const settings::Comparison& c) {
            asked = c.to_write();
            return true;
        });
        EXPECT_EQ(sorted(asked), sorted(fam.changed));
        EXPECT_EQ(o.kind, settings::Outcome::Held) << o.message();
        EXPECT_EQ(sorted(o.written), sorted(fam.changed));
        EXPECT_EQ(o.message(), "3 réglages écrits, tous vérifiés");
        EXPECT_EQ(fam.touched(b), fam.expected_touched);

        settings::Snapshot now;
        ASSERT_EQ(f->read(b.s, nullptr, now), "");
        EXPECT_TRUE(settings::compare(*f, now, file).to_write().empty());
        EXPECT_EQ(now.values, file.values);
    }
}

// The mechanism loses its power after a number of record / block writes:
// what was written and read back is listed, the rest is not claimed.
TEST(NriSettings, MechanismStoppingPartWayIsReportedAsItIs)
{
    struct Row {
        size_t family;
        int cut_after; // writes from the restore's start
        std::vector<std::string> written;
    } rows[] = {
        {0, 1, {"Mode"}}, // the mode is no record write: the channel 2 record is the first
        {0, 2, {"Canal 2/Mesure 1/max", "Mode"}},
        {1, 1, {}},       // channel 5's block taken, no answer to its read-back
        {1, 2, {"Canal 5/Paire 2/min"}}, // block "13" taken, not read back
    };
    const std::vector<Family> fams = families();
    for (const Row& r : rows) {
        const Family& fam = fams[r.family];
        SCOPED_TRACE(std::string(fam.plug) + ", cut after " + std::to_string(r.cut_after));
        Bench b(fam.plug);
        auto f = fam.make();
        settings::Snapshot file;
        ASSERT_EQ(f->read(b.s, nullptr, file), "");
        fam.change(b);
        const int done = fam.plug == std::string("g13") ? b.g13().channel_writes() : b.g136().block_writes();
        b.mech->set_power_cut_after(done + r.cut_after);
        const settings::Outcome o = settings::restore(b.s, *f, file, false, nullptr);
        EXPECT_EQ(o.kind, settings::Outcome::NoAnswer);
        EXPECT_EQ(sorted(o.written), sorted(r.written));
        std::vector<std::string> rest;
        for (const std::string& n : fam.changed)
            if (std::find(r.written.begin(), r.written.end(), n) == r.written.end())
                rest.push_back(n);
        EXPECT_EQ(sorted(o.not_written), sorted(rest));
        EXPECT_NE(o.message().find("ne répond pas"), std::string::npos) << o.message();
        EXPECT_EQ(o.message().find("tous vérifiés"), std::string::npos);
    }
}

// A dead or garbling line: the read (a save, a restore, a dry run) keeps
// nothing, ends within 30 s of port time and names the cause.
TEST(NriSettings, DeadLinesReadNothingSoonAndSayWhy)
{
    const std::string count0 = " vaut 0 : il faut le calibrer (ZUNA07) avant de dialoguer avec le monayeur.";
    struct Row {
        size_t family;
        const char* fault;
        std::string message; // the whole message, or (ending in "…") its start
    } rows[] = {
        {0, "silent", "Le monnayeur ne répond pas : réglage automatique de la vitesse impossible.\n"
                      "Le monnayeur ne répond pas : lecture impossible."},
        {1, "silent", "Le monayeur ne répond pas."},
        {0, "noise", "Le monnayeur répond, mais ses réponses sont illisibles…"},
        {1, "noise", "Le monnayeur répond, mais ses réponses sont illisibles (ligne perturbée ?)."},
        {0, "stuck-low", "Le compte de délai G13" + count0},
        {1, "stuck-low", "Le compte de délai G136" + count0},
    };
    const std::vector<Family> fams = families();
    for (const Row& r : rows) {
        const Family& fam = fams[r.family];
        SCOPED_TRACE(std::string(fam.plug) + ", " + r.fault);
        sim::Faults faults;
        ASSERT_TRUE(sim::parse_faults(r.fault, faults, nullptr));
        Bench b(fam.plug, faults);
        auto f = fam.make();
        settings::Snapshot snap;
        snap.values["x"] = 1;
        const uint64_t t0 = b.setup.bench().now();
        const std::string why = f->read(b.s, nullptr, snap);
        EXPECT_LE(b.setup.bench().now() - t0, uint64_t(30000000));
        const std::string ellipsis = "…";
        if (r.message.size() > ellipsis.size() && r.message.ends_with(ellipsis))
            EXPECT_EQ(why.substr(0, r.message.size() - ellipsis.size()),
                      r.message.substr(0, r.message.size() - ellipsis.size()));
        else
            EXPECT_EQ(why, r.message);
        EXPECT_EQ(snap.values.size(), 1u) << "nothing of a read without reply is kept";
    }
}

TEST(NriSettings, FilesTheFamilyCannotHoldAreRefusedNamingTheSetting)
{
    const auto g13 = g13_family();
    const auto g136 = nri::make_g136_settings();
    auto whole = [](const settings::Family& f) {
        settings::Snapshot s;
        s.family = f.code();
        for (const settings::Setting& setting : f.all_settings())
            s.values[setting.name] = setting.min;
        return QJsonDocument::fromJson(settings::to_json(f, s)).object();
    };
    using Edit = std::function<void(QJsonObject&)>;
    auto set = [](QStringList path, int v) -> Edit {
        return [path, v](QJsonObject& root) {
            std::function<void(QJsonObject&, QStringList)> put = [&](QJsonObject& o, QStringList p) {
                if (p.size() == 1) {
                    o.insert(p[0], v);
                    return;
                }
                QJsonObject c = o.value(p[0]).toObject();
                put(c, p.mid(1));
                o.insert(p[0], c);
            };
            QJsonObject r = root.value("reglages").toObject();
            put(r, path);
            root.insert("reglages", r);
        };
    };
    struct Row {
        const settings::Family* f;
        Edit edit;
        std::string named;
    } rows[] = {
        {g13.get(), set({"Canal 7", "Mesure 1", "max"}, 10), "« Canal 7/Mesure 1/max » n'existe pas"},
        {g13.get(), set({"Canal 1", "Mesure 5", "min"}, 10), "« Canal 1/Mesure 5/min » n'existe pas"},
        {g13.get(), set({"Mode"}, 0), "« Mode » vaut 0"},
        {g13.get(), set({"Canal 6", "Mesure 4", "min"}, 256), "« Canal 6/Mesure 4/min » vaut 256"},
        {g136.get(), set({"Canal 13", "Paire 1", "max"}, 1), "« Canal 13/Paire 1/max » n'existe pas"},
        {g136.get(), set({"Canal 2", "Paire 7", "mesure"}, 1), "« Canal 2/Paire 7/mesure » n'existe pas"},
        {g136.get(), set({"Canal 12", "Paire 6", "mesure"}, 16), "« Canal 12/Paire 6/mesure » vaut 16"},
        {g136.get(), set({"Sortie bobine", "Canal 3"}, 16), "« Sortie bobine/Canal 3 » vaut 16"},
        {g136.get(), [](QJsonObject& r) { r.insert("famille", "NRI1"); }, "autre monnayeur"},
        {g13.get(), [](QJsonObject& r) { r.insert("famille", "NRI2"); }, "autre monnayeur"},
    };
    for (const Row& r : rows) {
        QJsonObject doc = whole(*r.f);
        std::string error;
        ASSERT_TRUE(settings::from_json(*r.f, QJsonDocument(doc).toJson(), &error)) << error;
        r.edit(doc);
        EXPECT_FALSE(settings::from_json(*r.f, QJsonDocument(doc).toJson(), &error)) << r.named;
        EXPECT_NE(error.find(r.named), std::string::npos) << error;
    }
}

// What a channel's data becomes as bands: which channels are no band, and
// how G13.6000 pairs map to measurements.
TEST(NriSettings, ChannelDataAsBands)
{
    using settings::Band;
    using Windows = std::vector<std::optional<Band>>;
    struct Row {
        const char* what;
        settings::BandSet set;
        bool enabled;
        Windows windows; // of channel 1; only the first entries checked
    };
    auto g13 = [](nri::G13Record r) {
        nri::G13View v;
        v.channels[0] = r;
        return nri::g13_bands(v);
    };
    auto g136 = [](nri::g136::Block b, std::optional<std::array<int, 6>> sel) {
        nri::g136::View v;
        v.channels[0] = b;
        v.selectors[0] = sel;
        return nri::g136::bands(v);
    };
    const nri::g136::Block some = {120, 100, 90, 80, 150, 130, 66, 52, 210, 190, 40, 26};
    const Row rows[] = {
        {"G13 record", g13({{10, 20, 30, 40}, {5, 15, 25, 35}}), true, {Band{5, 10}, Band{15, 20}, Band{25, 30}, Band{35, 40}}},
        {"G13 zeros: empty", g13({}), false, {std::nullopt}},
        {"G13 0..255 everywhere: unprogrammed", g13({{255, 255, 255, 255}, {0, 0, 0, 0}}), false, {std::nullopt}},
        {"G13 0..255 on three only", g13({{255, 255, 255, 40}, {0, 0, 0, 30}}), true, {Band{0, 255}, Band{0, 255}, Band{0, 255}, Band{30, 40}}},
        {"G136 pairs on A, C; two on B intersect", g136(some, std::array<int, 6>{0, 1, 2, 1, 16, 16}), true,
         {Band{100, 120}, Band{80, 66}, Band{130, 150}, std::nullopt}},
        {"G136 selectors not read", g136(some, std::nullopt), false, {std::nullopt, std::nullopt}},
        {"G136 zeros: empty", g136({}, std::array<int, 6>{0, 1, 2, 3, 4, 5}), false, {std::nullopt}},
    };
    for (const Row& r : rows) {
        const settings::ChannelBands& c = r.set.channels.at(0);
        EXPECT_EQ(c.enabled, r.enabled) << r.what;
        for (size_t m = 0; m < r.windows.size(); ++m) {
            ASSERT_EQ(c.windows.at(m).has_value(), r.windows[m].has_value()) << r.what << " " << m;
            if (r.windows[m]) {
                EXPECT_EQ(c.windows[m]->low, r.windows[m]->low) << r.what << " " << m;
                EXPECT_EQ(c.windows[m]->high, r.windows[m]->high) << r.what << " " << m;
            }
        }
        EXPECT_EQ(r.set.scale, std::vector<int>(r.set.measurements.size(), 255)) << r.what;
    }
}
