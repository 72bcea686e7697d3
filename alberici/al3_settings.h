#pragma once
// The Alberici AL3's whole settings as the window shows them: per channel
// the six parameters and deltas, the time, the value, the selection
// ("Validé"), the tolerance and the output; the mechanism type and the
// output levels of the TYPE tab. Read with `lecture` and `read_type`,
// written per channel record (`write_channel`, `vider`, `load_tolerance`,
// each read back) and per type (`write_type`, read back). No memory image.
//
// No Qt here.
#include <array>
#include <memory>
#include <optional>
#include <string>

#include "alberici/al3_link.h"
#include "settings/settings.h"

namespace zuna::alberici {

using Channels = std::array<std::optional<Record>, kChannels>;

// The channel windows, parameter ± delta per measurement (six, 0..255, all
// compared, as the coin test does). A channel not validated (inhibit bit:
// also an emptied channel) or not read is disabled; `coin` is the last coin
// test's six measurements.
settings::BandSet bands_of(const Channels& channels, const std::optional<std::vector<int>>& coin);

// A channel's settings in a snapshot as the record the window shows (bytes
// 0x00..0x0F); nothing when the snapshot lacks one of them.
std::optional<Record> record_of(const settings::Snapshot& s, int channel);

class Al3Settings : public settings::Family {
public:
    std::string code() const override { return "ALB3"; }
    std::string title() const override { return "Alberici AL3"; }
    std::vector<settings::Setting> all_settings() const override;
    std::string read(Station& s, Progress* p, settings::Snapshot& out) override;
    settings::WriteReport write(Station& s, const settings::Snapshot& target, const std::vector<std::string>& changed,
                                Progress* p) override;
    settings::BandSet bands(const settings::Snapshot& s) const override;

    // The last read when it was whole (nothing after a failed read or a
    // write): what the mechanism now holds.
    const std::optional<settings::Snapshot>& last_read() const { return last_; }

private:
    std::optional<settings::Snapshot> last_;
};

std::unique_ptr<settings::Family> make_al3_settings();

} // namespace zuna::alberici
