#include "c220/c220_settings.h"

#include <optional>

#include <algorithm>
#include <set>

namespace zuna::c220 {

namespace {

const char kChecksumName[] = "Somme de contrôle";
const char* const kLimitTitles[6] = {"Bas 1", "Haut 1", "Bas 2", "Haut 2", "Bas 3", "Haut 3"};

// Where a setting lives in the image: a byte, or one nibble of it.
struct Place {
    std::string name;
    int byte;
    int nibble; // -1: the whole byte; 0: low nibble; 1: high nibble
    bool writable;
};

const std::vector<Place>& places()
{
    static const std::vector<Place> all = [] {
        std::vector<Place> v;
        for (int n = 1; n <= kChannels; ++n) {
            const std::string head = "Canal " + std::to_string(n) + "/";
            for (int i = 0; i < 6; ++i) // window k = i / 2, low then high, in word 8k + n - 1
                v.push_back({head + kLimitTitles[i], 16 * (i / 2) + 2 * (n - 1) + i % 2, -1, true});
            v.push_back({head + "Sortie", output_byte(n), output_high(n) ? 1 : 0, true});
        }
        v.push_back({kChecksumName, kChecksumByte, -1, false});
        return v;
    }();
    return all;
}

int value_at(const uint8_t* image, const Place& p)
{
    const int b = image[p.byte];
    return p.nibble < 0 ? b : p.nibble == 1 ? b >> 4 : b & 0x0F;
}

void put(uint8_t* image, const Place& p, int value)
{
    uint8_t& b = image[p.byte];
    if (p.nibble < 0)
        b = uint8_t(value);
    else if (p.nibble == 1)
        b = uint8_t((b & 0x0F) | ((value & 0x0F) << 4));
    else
        b = uint8_t((b & 0xF0) | (value & 0x0F));
}

const Place* find_place(const std::string& name)
{
    for (const Place& p : places())
        if (p.name == name)
            return &p;
    return nullptr;
}

std::string read_error(const ReadResult& r, const Link& l)
{
    if (r.refused)
        return "Le compte de délai C220 vaut " + std::to_string(l.count) +
               " : il faut le calibrer (ZUNA07) avant de dialoguer avec le monnayeur.";
    if (r.stopped)
        return "Lecture arrêtée au mot " + std::to_string(r.words) + ".";
    if (!r.answered)
        return "Le monayeur ne répond pas.";
    return "";
}

} // namespace

std::string foreign_word_text(const Image& image)
{
    return "Le mot 63 du monnayeur (" + std::to_string(image[kChecksumByte]) + " " +
           std::to_string(image[kChecksumByte + 1]) +
           ") n'est pas une somme de contrôle de C220 : ce n'est peut-être pas un C220.";
}

settings::BandSet bands_of(const Image& image, bool whole)
{
    settings::BandSet set;
    set.family = "C220";
    set.measurements = {"Mesure 1", "Mesure 2", "Mesure 3"};
    set.scale = {255, 255, 255};
    set.compared = {true, true, true}; // the mechanism takes a coin only inside all three
    for (int n = 1; n <= kChannels; ++n) {
        settings::ChannelBands c;
        c.channel = n;
        c.enabled = whole;
        const auto v = channel_limits(image, n);
        for (int k = 0; k < 3; ++k) {
            const int low = v[size_t(2 * k)], high = v[size_t(2 * k + 1)];
            if (low > high)
                c.enabled = false; // an inverted window accepts nothing: the channel is dead
            c.windows.push_back(settings::Band{low, high});
        }
        if (!c.enabled)
            c.windows.assign(3, std::nullopt);
        set.channels.push_back(c);
    }
    return set;
}

std::vector<settings::Setting> C220Settings::all_settings() const
{
    std::vector<settings::Setting> out;
    for (const Place& p : places())
        out.push_back({p.name, 0, p.nibble < 0 ? 255 : 15, p.writable});
    return out;
}

std::map<std::string, int> C220Settings::from_image(const std::vector<uint8_t>& image) const
{
    std::map<std::string, int> out;
    if (image.size() != kMemoryBytes)
        return out;
    for (const Place& p : places())
        out[p.name] = value_at(image.data(), p);
    return out;
}

Link& C220Settings::link_for(Station& s)
{
    if (shared_ && &shared_->s == &s)
        return *shared_;
    if (!own_ || &own_->s != &s)
        own_ = std::make_unique<Link>(s);
    return *own_;
}

std::string C220Settings::read(Station& s, Progress* p, settings::Snapshot& out)
{
    Link& l = link_for(s);
    activate(l);
    // The checksum is a sum: two bits flipped the opposite ways on a noisy
    // line cancel in it. A read counts only when a second read gives the
    // same bytes (the mechanism really holds them), checksum or not.
    std::optional<Image> previous;
    for (int tries = 0;; ++tries) {
        const ReadResult r = lit_c220(l, p);
        if (std::string e = read_error(r, l); !e.empty())
            return e;
        if (previous && *previous == l.image)
            break;
        if (tries == 2)
            return "Les lectures du monayeur ne concordent pas" +
                   std::string(r.checksum_holds ? "" : " (somme de contrôle fausse)") +
                   " : ligne perturbée ? Rien n'est lu.";
        previous = l.image;
    }
    // Two reads agree on a word 63 that no C220 holds: another mechanism.
    if (l.foreign)
        return foreign_word_text(l.image) + " Rien n'est lu.";
    out = settings::Snapshot{};
    out.family = code();
    out.delay = l.count;
    out.image.assign(l.image.begin(), l.image.begin() + kMemoryBytes);
    out.values = from_image(out.image);
    return "";
}

settings::WriteReport C220Settings::write(Station& s, const settings::Snapshot& target,
                                          const std::vector<std::string>& changed, Progress* p)
{
    settings::WriteReport rep;
    Link& l = link_for(s);
    if (!l.whole || l.count != s.delay.c220) {
        // The checksum is computed over the image: it must be the mechanism's.
        activate(l);
        if (std::string e = read_error(lit_c220(l, p), l); !e.empty()) {
            rep.error = e;
            return rep;
        }
    }
    // The words holding a changed setting, each with its settings.
    std::map<int, std::vector<const Place*>> words;
    for (const std::string& name : changed) {
        const Place* place = find_place(name);
        if (!place || !place->writable || !target.values.count(name))
            continue;
        words[place->byte / 2].push_back(place);
    }
    zuna::start(p, int(words.size()));
    for (const auto& [w, in_word] : words) {
        if (stop_asked(p))
            break;
        // The word as the mechanism holds it, with only the changed settings replaced.
        std::array<uint8_t, kImageSize> want = l.image;
        for (const Place* place : in_word)
            put(want.data(), *place, target.values.at(place->name));
        const WriteResult r = ecrir_code_1(l, w, want[size_t(2 * w)], want[size_t(2 * w + 1)]);
        if (r.refused != Refusal::None || !r.answered) {
            rep.error = r.refused == Refusal::BadCount
                            ? "Le compte de délai C220 vaut " + std::to_string(l.count) + " : rien n'a été envoyé."
                        : r.refused == Refusal::Foreign
                            ? foreign_word_text(l.image) + " Rien n'est écrit." 
                        : r.refused == Refusal::NotRead
                            ? "Un mot écrit plus haut est relu différemment à chaque lecture : écriture arrêtée au "
                              "mot " + std::to_string(w) + ", relisez le monnayeur."
                            : "Le monayeur ne répond plus (mot " + std::to_string(w) + ") : écriture arrêtée.";
            break;
        }
        const WordCheck& check = r.words.front(); // the word written; word 63 follows
        for (const Place* place : in_word) {
            uint8_t got[2] = {check.got[0], check.got[1]};
            Place local = *place;
            local.byte = place->byte % 2;
            // The checksum word is part of the write: a mechanism left with
            // a checksum that does not hold has not taken it.
            const bool holds = r.confirmed() && value_at(got, local) == target.values.at(place->name);
            (holds ? rep.verified : rep.failed).push_back(place->name);
        }
        zuna::step(p);
    }
    zuna::finish(p);
    return rep;
}

settings::BandSet C220Settings::bands(const settings::Snapshot& s) const
{
    Image image{};
    const bool whole = s.image.size() == kMemoryBytes;
    if (whole)
        std::copy(s.image.begin(), s.image.end(), image.begin());
    else // a file written by hand may hold the named settings only
        for (const Place& p : places())
            if (const auto it = s.values.find(p.name); it != s.values.end())
                put(image.data(), p, it->second);
    return bands_of(image, whole || !s.values.empty());
}

std::unique_ptr<settings::Family> make_c220_settings() { return std::make_unique<C220Settings>(); }

} // namespace zuna::c220
