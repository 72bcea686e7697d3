#pragma once
// The C120 and C220B settings as named values for settings files and
// restores, and their channel windows as bands. Both keep everything in the
// 256-byte memory: each named setting is one byte of it (a window bound, an
// output), written through the family's verified word write, one word per
// unit; the checksum byte is shown and compared, never written (each word
// write brings it up to date).
//
// No Qt here.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "c120/c120_memory.h"
#include "settings/settings.h"

namespace zuna::c120 {

enum class Kind { C120, C220B };

// The image's channel windows as the "Graphique" view draws them: three
// measurements "Mesure 1".."Mesure 3" on 0..255, all compared. A channel
// accepts no coin, and is no band, when the image holds no whole read, when
// one of its windows is inverted (lower above upper: the way an unused
// channel is left), or when all six bounds are 0.
settings::BandSet image_bands(Kind kind, const Image& image);

// What a channel window shows now: its image, the last tested coin (when one
// was measured) and, during a teach, the coins measured so far and the
// window the validation would write into `proposed_channel`.
struct WindowData {
    std::optional<std::array<uint8_t, 3>> coin;
    std::vector<std::array<uint8_t, 3>> samples;
    std::optional<std::array<uint8_t, 6>> proposed; // six bounds, upper first
    int proposed_channel = 0;
};
settings::BandSet window_bands(Kind kind, const Image& image, const WindowData& d);

// Channel c with six bounds (upper first) as three bands, or no band at all
// under the rule above.
settings::ChannelBands channel_bands(int c, const std::array<uint8_t, 6>& b);

std::unique_ptr<settings::Family> make_c120_settings();
std::unique_ptr<settings::Family> make_c220b_settings();

} // namespace zuna::c120
