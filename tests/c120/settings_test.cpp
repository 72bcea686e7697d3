// C120 and C220B settings: what a hand-edited file may not hold, and the channels as bands.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <functional>

#include "c120/c120_settings.h"
#include "sim/c120_mech.h"
#include "sim/c220b_mech.h"
#include "settings_file/settings_file.h"

using namespace zuna;

namespace {

settings::Snapshot factory_snapshot(const settings::Family& f, const std::array<uint8_t, 256>& memory)
{
    settings::Snapshot s;
    s.family = f.code();
    s.delay = 42;
    s.image.assign(memory.begin(), memory.end());
    s.values = f.from_image(s.image);
    return s;
}

// Sets root/path... to value in a document's object tree.
void set(QJsonObject& o, const QStringList& path, const QJsonValue& value)
{
    if (path.size() == 1) {
        if (value.isUndefined())
            o.remove(path[0]);
        else
            o.insert(path[0], value);
        return;
    }
    QJsonObject child = o.value(path[0]).toObject();
    set(child, path.mid(1), value);
    o.insert(path[0], child);
}

} // namespace

TEST(C120SettingsFile, RefusedNamingTheSetting)
{
    auto c120 = c120::make_c120_settings();
    auto c220b = c120::make_c220b_settings();
    const settings::Snapshot s120 = factory_snapshot(*c120, sim::C120Mech::factory_memory());
    const settings::Snapshot s220 = factory_snapshot(*c220b, sim::C220BMech::factory_memory());
    struct Row {
        const char* what;
        settings::Family* reader;
        const settings::Family* writer;
        const settings::Snapshot* snap;
        QStringList path; // under "reglages"; empty: the document as written
        QJsonValue value;
        const char* error; // "" when the file is taken
    };
    const Row rows[] = {
        {"as written", c120.get(), c120.get(), &s120, {}, {}, ""},
        {"as written", c220b.get(), c220b.get(), &s220, {}, {}, ""},
        {"channel 13 on a C120", c120.get(), c120.get(), &s120, {"Canal 13", "Mesure 1", "max"}, 10,
         "« Canal 13/Mesure 1/max » n'existe pas"},
        {"channel 17 on a C220B", c220b.get(), c220b.get(), &s220, {"Canal 17", "Mesure 3", "min"}, 10,
         "« Canal 17/Mesure 3/min » n'existe pas"},
        {"a fourth measurement", c120.get(), c120.get(), &s120, {"Canal 1", "Mesure 4", "max"}, 10,
         "« Canal 1/Mesure 4/max » n'existe pas"},
        {"output 7", c120.get(), c120.get(), &s120, {"Sorties", "Canal 4"}, 7, "« Sorties/Canal 4 » vaut 7"},
        {"output -1", c220b.get(), c220b.get(), &s220, {"Sorties", "Canal 16"}, -1, "« Sorties/Canal 16 » vaut -1"},
        {"bound 256", c220b.get(), c220b.get(), &s220, {"Canal 2", "Mesure 2", "max"}, 256,
         "« Canal 2/Mesure 2/max » vaut 256"},
        {"no checksum", c120.get(), c120.get(), &s120, {"Somme de contrôle"}, QJsonValue::Undefined,
         "« Somme de contrôle » manque"},
        {"image disagrees", c120.get(), c120.get(), &s120, {"Canal 2", "Mesure 1", "min"}, 3,
         "« Canal 2/Mesure 1/min » vaut 3 mais l'image"},
        {"a C220B file", c120.get(), c220b.get(), &s220, {}, {}, "autre monnayeur"},
        {"a C120 file", c220b.get(), c120.get(), &s120, {}, {}, "autre monnayeur"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        QJsonObject doc = QJsonDocument::fromJson(settings::to_json(*r.writer, *r.snap)).object();
        if (!r.path.isEmpty())
            set(doc, QStringList{"reglages"} + r.path, r.value);
        std::string error;
        const auto got = settings::from_json(*r.reader, QJsonDocument(doc).toJson(), &error);
        if (*r.error) {
            EXPECT_FALSE(got);
            EXPECT_NE(error.find(r.error), std::string::npos) << error;
        } else {
            ASSERT_TRUE(got) << error;
            EXPECT_EQ(got->values, r.snap->values);
            EXPECT_EQ(got->image, r.snap->image);
        }
    }
}

// An unused channel (inverted windows) or one left all zero is no band: it
// must neither overlap everything nor be a 0..0 window by accident.
TEST(C120Bands, ChannelsThatAcceptNoCoinAreNoBand)
{
    struct Row {
        std::array<uint8_t, 6> bounds; // upper first
        bool enabled;
    };
    const Row rows[] = {
        {{120, 110, 60, 50, 200, 190}, true},
        {{255, 0, 255, 0, 255, 0}, true}, // accepts every coin: a band, and it overlaps
        {{7, 7, 0, 0, 9, 9}, true},
        {{0, 255, 0, 255, 0, 255}, false},
        {{120, 110, 60, 50, 190, 200}, false},
        {{0, 0, 0, 0, 0, 0}, false},
    };
    for (const Row& r : rows) {
        const settings::ChannelBands ch = c120::channel_bands(5, r.bounds);
        EXPECT_EQ(ch.channel, 5);
        EXPECT_EQ(ch.enabled, r.enabled) << int(r.bounds[0]) << " " << int(r.bounds[1]);
        ASSERT_EQ(ch.windows.size(), 3u);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(bool(ch.windows[k]), r.enabled);
            if (ch.windows[k]) {
                EXPECT_EQ(ch.windows[k]->high, r.bounds[2 * k]);
                EXPECT_EQ(ch.windows[k]->low, r.bounds[2 * k + 1]);
            }
        }
    }
    // A snapshot's bands are its image's windows; an image never read has no band.
    auto f = c120::make_c220b_settings();
    const settings::Snapshot s = factory_snapshot(*f, sim::C220BMech::factory_memory());
    const settings::BandSet a = f->bands(s);
    ASSERT_EQ(a.channels.size(), 16u);
    EXPECT_EQ(a.channels[1].windows[2]->high, s.values.at("Canal 2/Mesure 3/max"));
    EXPECT_FALSE(a.channels[15].enabled);
    for (const auto& ch : c120::image_bands(c120::Kind::C220B, c120::Image{}).channels)
        EXPECT_FALSE(ch.enabled) << ch.channel;
}
