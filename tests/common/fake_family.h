#pragma once
// A family that lives in memory: four channels of three measurements (min and
// max each), an output per channel, a read-only checksum and a 32-byte image
// holding the windows. The mechanism can stop answering after N writes or
// refuse to hold one setting: what the restore flow and the file checks are
// tried on without a bench.
#include <string>

#include "settings/settings.h"

namespace zuna::test {

struct FakeMechanism {
    std::map<std::string, int> values;
    int writes = 0;
    int answer_writes = 1 << 30;  // writes answered before it goes silent
    std::string stubborn;         // a setting that keeps its value
    bool silent = false;
    std::vector<std::string> written; // every setting written, in order
};

class FakeFamily : public settings::Family {
public:
    explicit FakeFamily(FakeMechanism* m = nullptr) : m_(m) {}
    std::string code() const override { return "FAKE"; }
    std::string title() const override { return "FAUX 1"; }
    static std::string window(int c, int m, bool max)
    {
        return "Canal " + std::to_string(c) + "/Mesure " + std::to_string(m) + (max ? "/max" : "/min");
    }
    std::vector<settings::Setting> all_settings() const override
    {
        std::vector<settings::Setting> out;
        for (int c = 1; c <= 4; ++c)
            for (int m = 1; m <= 3; ++m)
                for (bool max : {false, true})
                    out.push_back({window(c, m, max), 0, 255, true});
        for (int c = 1; c <= 4; ++c)
            out.push_back({"Sorties/Canal " + std::to_string(c), 0, 6, true});
        out.push_back({"Somme", 0, 255, false});
        return out;
    }
    size_t image_size() const override { return 32; }
    std::map<std::string, int> from_image(const std::vector<uint8_t>& image) const override
    {
        std::map<std::string, int> out;
        for (int c = 1; c <= 4; ++c)
            for (int m = 1; m <= 3; ++m)
                for (bool max : {false, true})
                    out[window(c, m, max)] = image[(c - 1) * 6 + (m - 1) * 2 + max];
        return out;
    }
    static std::vector<uint8_t> image_of(const std::map<std::string, int>& v)
    {
        std::vector<uint8_t> image(32, 0);
        for (int c = 1; c <= 4; ++c)
            for (int m = 1; m <= 3; ++m)
                for (bool max : {false, true})
                    image[(c - 1) * 6 + (m - 1) * 2 + max] = uint8_t(v.at(window(c, m, max)));
        return image;
    }
    std::string read(Station&, Progress*, settings::Snapshot& out) override
    {
        if (!m_ || m_->silent)
            return "Le monayeur ne répond pas.";
        out.family = code();
        out.values = m_->values;
        out.image = image_of(m_->values);
        out.identity = {{"Numéro", "F-1"}};
        return "";
    }
    settings::WriteReport write(Station&, const settings::Snapshot& target, const std::vector<std::string>& changed,
                                Progress*) override
    {
        settings::WriteReport r;
        for (const std::string& n : changed) {
            if (m_->writes >= m_->answer_writes) {
                m_->silent = true;
                r.error = "Le monayeur ne répond plus.";
                return r;
            }
            ++m_->writes;
            m_->written.push_back(n);
            if (n != m_->stubborn)
                m_->values[n] = target.values.at(n);
            (n == m_->stubborn ? r.failed : r.verified).push_back(n);
        }
        return r;
    }
    settings::BandSet bands(const settings::Snapshot& s) const override
    {
        settings::BandSet b;
        b.family = title();
        b.measurements = {"Mesure 1", "Mesure 2", "Mesure 3"};
        b.scale = {255, 255, 255};
        for (int c = 1; c <= 4; ++c) {
            settings::ChannelBands ch{c, s.values.at("Sorties/Canal " + std::to_string(c)) != 0, {}};
            for (int m = 1; m <= 3; ++m)
                ch.windows.push_back(settings::Band{s.values.at(window(c, m, false)), s.values.at(window(c, m, true))});
            b.channels.push_back(ch);
        }
        return b;
    }
    // A sound snapshot: channel c accepts c*40 .. c*40+20 on every measurement.
    static std::map<std::string, int> defaults()
    {
        std::map<std::string, int> v;
        for (int c = 1; c <= 4; ++c) {
            for (int m = 1; m <= 3; ++m) {
                v[window(c, m, false)] = c * 40;
                v[window(c, m, true)] = c * 40 + 20;
            }
            v["Sorties/Canal " + std::to_string(c)] = c;
        }
        v["Somme"] = 17;
        return v;
    }

private:
    FakeMechanism* m_;
};

} // namespace zuna::test
