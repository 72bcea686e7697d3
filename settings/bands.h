#pragma once
// The acceptance windows of a mechanism's channels as bands per measurement,
// the way the "Graphique" view draws them and the overlap check compares
// them. Each family fills a BandSet from what its window shows; the check
// knows nothing of families.
//
// No Qt here.
#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zuna::settings {

struct Band {
    int low = 0;  // inclusive
    int high = 0; // inclusive
};

struct ChannelBands {
    int channel = 0; // as the window numbers it (1-based)
    // A channel that accepts no coin (empty, disabled, inhibited, or never
    // read) is not a band at all: it neither overlaps nor is overlapped.
    bool enabled = true;
    // One window per measurement of the set; nullopt: that measurement is not
    // bounded for this channel (drawn as nothing, and it never separates two
    // channels: the other measurements decide).
    std::vector<std::optional<Band>> windows;
};

struct BandSet {
    std::string family;                 // speed-bar title, for captions
    std::vector<std::string> measurements; // column names ("Mesure 1", "M1"...)
    std::vector<int> scale;             // top of each measurement's scale (255, 65535...)
    // The measurements the overlap check compares (all when empty).
    std::vector<bool> compared;
    std::vector<ChannelBands> channels;
    // The last tested coin, one value per measurement (nullopt: none tested).
    std::optional<std::vector<int>> coin;
    // A teach in progress: every sample (one value per measurement), and the
    // window the validation would write with the chosen tolerance (a window
    // with low above high: that measurement is left unbounded).
    std::vector<std::vector<int>> samples;
    std::optional<std::vector<Band>> proposed;
    int proposed_channel = 0;
};

// Two enabled channels overlap when, on every compared measurement both
// bound, their windows intersect (touching bounds intersect: a coin at the
// shared value is accepted by both). Pairs (lower channel first), in order.
bool overlap(const BandSet& set, const ChannelBands& a, const ChannelBands& b);
std::vector<std::pair<int, int>> overlaps(const BandSet& set);

// The channels that would overlap `channel` once its windows become
// `windows` (enabled): what a write asks about first.
std::vector<int> overlaps_after_write(const BandSet& set, int channel, const std::vector<std::optional<Band>>& windows);

// Whether the coin lies inside each window of a channel (per measurement;
// nullopt where the channel does not bound it or no coin was tested).
std::vector<std::optional<bool>> coin_inside(const BandSet& set, const ChannelBands& c);

// "Les canaux 3 et 7 se recouvrent : une même pièce serait acceptée par les deux. Écrire quand même ?"
std::string overlap_question(int channel, const std::vector<int>& others);
// The same for every pair of a settings file about to be written.
std::string overlap_question(const std::vector<std::pair<int, int>>& pairs);
// The statement alone ("Les canaux 1-2 et 3-7 se recouvrent : ..."): what a
// restore without a window prints before it writes them.
std::string overlap_statement(const std::vector<std::pair<int, int>>& pairs);

} // namespace zuna::settings
