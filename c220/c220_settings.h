#pragma once
// The C220 / SENTINEL's whole settings: the three windows and the output of
// its eight channels as the window shows them ("Canal 3/Bas 1", "Canal
// 3/Sortie"), the checksum read but never written, and the 64-word memory
// as the raw image. Read with `lit_c220`, written word by word with
// `ecrir_code_1` (each word verified, the checksum rewritten).
//
// No Qt here.
#include <memory>
#include <string>

#include "c220/c220_link.h"
#include "settings/settings.h"

namespace zuna::c220 {

constexpr size_t kMemoryBytes = 2 * kWords; // the raw image of a settings file

// The channel windows of a memory image: three measurements 0..255, all
// compared. A channel with a window whose low is above its high accepts no
// coin and is shown as disabled. `whole` false (nothing read): every channel
// disabled, never a window of zeros.
settings::BandSet bands_of(const Image& image, bool whole);

// Why an image whose word 63 is not a C220 checksum word (Link::foreign)
// may come from another mechanism, in French.
std::string foreign_word_text(const Image& image);

class C220Settings : public settings::Family {
public:
    // `shared`: the link of an open window, so that what a restore reads and
    // writes is the window's image too; null: a link of its own.
    explicit C220Settings(Link* shared = nullptr) : shared_(shared) {}

    std::string code() const override { return "C220"; }
    std::string title() const override { return "C220"; }
    std::vector<settings::Setting> all_settings() const override;
    size_t image_size() const override { return kMemoryBytes; }
    std::map<std::string, int> from_image(const std::vector<uint8_t>& image) const override;
    std::string read(Station& s, Progress* p, settings::Snapshot& out) override;
    settings::WriteReport write(Station& s, const settings::Snapshot& target, const std::vector<std::string>& changed,
                                Progress* p) override;
    settings::BandSet bands(const settings::Snapshot& s) const override;

private:
    Link& link_for(Station& s);

    Link* shared_;
    std::unique_ptr<Link> own_;
};

std::unique_ptr<settings::Family> make_c220_settings();

} // namespace zuna::c220
