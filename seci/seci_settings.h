#pragma once
// The SECI RM3 and RM4 settings as named values (what a settings file holds
// and a restore writes), and their channel windows as bands. One class for
// both families, parametrised by the link's `Family`. No Qt here.
//
// Per channel n, as the editor window shows it: "Canal n/HFU/max",
// "Canal n/LF/max", "Canal n/HFL/max" (RM4: "Canal n/+/max"), the same with
// "min" (the bottom row), "Canal n/Options" (the flag nibble: bit s set, the
// sensor s compares the coin's low reading) and "Canal n/Sortie" (the output
// nibble as read: RM3 8 is shown "0" and 15 is an emptied channel; RM4 7 is
// an emptied channel). The write unit is a channel record.
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "seci/seci_link.h"
#include "settings/settings.h"

namespace zuna::seci {

class SeciSettings : public settings::Family {
public:
    explicit SeciSettings(const seci::Family& f) : f_(f) {}
    std::string code() const override;
    std::string title() const override;
    std::vector<settings::Setting> all_settings() const override;
    std::string read(Station& s, Progress* p, settings::Snapshot& out) override;
    settings::WriteReport write(Station& s, const settings::Snapshot& target, const std::vector<std::string>& changed,
                                Progress* p) override;
    settings::BandSet bands(const settings::Snapshot& s) const override;

private:
    const seci::Family& f_;
};

std::unique_ptr<settings::Family> make_rm3_settings();
std::unique_ptr<settings::Family> make_rm4_settings();

// The setting name of value v (0-based) of channel n, of its flags, of its output.
std::string value_name(const seci::Family& f, int n, int v);
std::string options_name(int n);
std::string output_name(int n);

// Channel bands. Measurements are the coin's readings as the test shows them:
// "HFU Bas", "HFU Haut", "LF Bas", "LF Haut", "HFL Bas", "HFL Haut" (RM4:
// and "+"). A channel bounds, per sensor, the one reading its flag bit
// chooses; the other stays unbounded. An unread or emptied channel is
// disabled.
settings::BandSet empty_bands(const seci::Family& f);
settings::ChannelBands channel_bands(const seci::Family& f, int n, const std::optional<Record>& r);
// The coin's readings, one per measurement.
std::vector<int> readings(const seci::Family& f, const Record& coin);

// A calibration in progress: the coins sampled and the record the
// validation would write into `channel`.
struct Teach {
    std::vector<Record> samples;
    std::optional<Record> proposed;
    int channel = 0;
};
// The editor window's data as bands: the channels as last read (nullopt:
// unread), the last tested coin, and a calibration if one runs.
settings::BandSet window_bands(const seci::Family& f, std::span<const std::optional<Record>> held,
                               const std::optional<Record>& coin, const Teach* teach = nullptr);

} // namespace zuna::seci
