#pragma once
// The NRI G13.0000's whole settings for the settings files: the measuring
// mode and the six channel records ("Canal n/Mesure k/max", ".../min"), read
// the way its window reads them and written through its verified writes (a
// channel record, the mode). The identity and production date are kept and
// compared, never written. No Qt here.
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "nri/g13_link.h"
#include "settings/settings.h"

namespace zuna::nri {

// A channel record: maxima and minima of the four measurements.
struct G13Record {
    std::array<int, 4> max{};
    std::array<int, 4> min{};
};

// What the window shows as bands: the six records (absent: none to draw),
// the last tested coin, and during a teach the coins measured and the
// channel the validation would write.
struct G13View {
    std::array<std::optional<G13Record>, 6> channels;
    std::optional<std::array<int, 4>> coin;
    std::vector<std::array<int, 4>> samples;
    int proposed_channel = 0; // 0: none proposed
    G13Record proposed;
};

// Four measurements of 0..255, all compared. A record of zeros (an empty
// channel) or 0..255 on every measurement (an unprogrammed one) is no band.
settings::BandSet g13_bands(const G13View& v);
// A record's windows per measurement, as a write would make them (none for
// a record that is no band).
std::vector<std::optional<settings::Band>> g13_windows(const G13Record& r);

class G13Settings : public settings::Family {
public:
    std::string code() const override { return "NRI1"; }
    std::string title() const override { return "NRI G13.0000"; }
    std::vector<settings::Setting> all_settings() const override;
    std::string read(Station& s, Progress* p, settings::Snapshot& out) override;
    settings::WriteReport write(Station& s, const settings::Snapshot& target, const std::vector<std::string>& changed,
                                Progress* p) override;
    settings::BandSet bands(const settings::Snapshot& s) const override;

    // The reprogramming date a channel write sends (the PC's day by default).
    std::function<Date()> today;
};

std::unique_ptr<settings::Family> make_g13_settings();

// Setting names.
std::string g13_name(int channel, int measure, bool max);
constexpr const char* kG13Mode = "Mode";

} // namespace zuna::nri
