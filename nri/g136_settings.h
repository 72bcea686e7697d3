#pragma once
// The NRI G13.6000's whole settings for the settings files: the twelve
// channels (six pairs each: the measurement the pair checks, its maximum and
// minimum) and the tables ("Signal Sortie", "Valid canal", "Sortie bobine",
// function bytes and offsets), read the way its window reads both pages and
// written through its verified writes (a channel block; a channel block with
// its selectors in block "13"; the tables). No Qt here.
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "nri/g136_link.h"
#include "settings/settings.h"

namespace zuna::nri::g136 {

// What the window shows as bands: the channels and their selectors (absent:
// not read, no band), the last tested coin, and during a teach the coins
// measured and the channel the validation would write.
struct View {
    std::array<std::optional<Block>, kChannels> channels;
    std::array<std::optional<std::array<int, 6>>, kChannels> selectors;
    std::optional<Measures> coin;
    std::vector<Measures> samples;
    int proposed_channel = 0; // 0: none proposed
    Block proposed{};
    std::array<int, 6> proposed_selectors{};
};

// Sixteen measurements "A".."P" of 0..255, all compared. A channel bounds a
// measurement by the pairs that check it (their intersection); measurements
// no pair checks are unbounded. A block of zeros (an empty channel) or pairs
// all 0..255 (an unprogrammed one) is no band.
settings::BandSet bands(const View& v);

class Settings : public settings::Family {
public:
    std::string code() const override { return "NRI2"; }
    std::string title() const override { return "NRI G13.6000"; }
    std::vector<settings::Setting> all_settings() const override;
    std::string read(Station& s, Progress* p, settings::Snapshot& out) override;
    settings::WriteReport write(Station& s, const settings::Snapshot& target, const std::vector<std::string>& changed,
                                Progress* p) override;
    settings::BandSet bands(const settings::Snapshot& s) const override;
};

// Setting names: "Canal n/Paire k/mesure" (0..15 for "A".."P"), ".../max", ".../min".
std::string pair_name(int channel, int pair, const char* what);

} // namespace zuna::nri::g136

namespace zuna::nri {
std::unique_ptr<settings::Family> make_g136_settings();
} // namespace zuna::nri
