#include "c120/c120_settings.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "c120/c220b_link.h"
#include "link/port.h"

namespace zuna::c120 {

namespace {

constexpr int kMemoryBytes = 256;

// One named setting: its memory byte and how its value is stored there.
struct Field {
    enum Store {
        Byte,       // the value itself (window bounds, checksum)
        Mask,       // C120 output number as a one-bit mask
        MinusOne,   // C220B output number v stored as v - 1 (0 as 255)
    };
    std::string name;
    int byte;
    Store store;
    int min, max;
    bool writable;
    int copy = -1; // a second byte written with the same value (C220B channel 16)
};

int decode(const Field& f, uint8_t b)
{
    switch (f.store) {
    case Field::Mask:
        return mask_output(b); // -1: no output number (out of range, so never taken for one)
    case Field::MinusOne:
        return b == 255 ? 0 : b <= 5 ? b + 1 : -1;
    case Field::Byte:
        break;
    }
    return b;
}

uint8_t encode(const Field& f, int v)
{
    switch (f.store) {
    case Field::Mask:
        return output_mask(v);
    case Field::MinusOne:
        return uint8_t(v - 1);
    case Field::Byte:
        break;
    }
    return uint8_t(v);
}

struct Map {
    Kind kind;
    int channels;
    std::string code, title;
    int (*upper_byte)(int c, int k); // memory byte of the upper bound; the lower is the next
};

std::string bound_name(int c, int k, bool upper)
{
    return "Canal " + std::to_string(c) + "/Mesure " + std::to_string(k) + (upper ? "/max" : "/min");
}

const Map& map_of(Kind kind)
{
    static const Map c120 = {Kind::C120, kChannels, "C120", "C120",
                             [](int c, int k) { return upper_index(c, k) - 1; }};
    static const Map c220b = {Kind::C220B, c220b::kChannels, "C22B", "C220B",
                              [](int c, int k) { return c220b::upper_index(c, k) - 1; }};
    return kind == Kind::C120 ? c120 : c220b;
}

std::vector<Field> fields_of(Kind kind)
{
    const Map& m = map_of(kind);
    std::vector<Field> out;
    for (int c = 1; c <= m.channels; ++c)
        for (int k = 1; k <= 3; ++k) {
            out.push_back({bound_name(c, k, true), m.upper_byte(c, k), Field::Byte, 0, 255, true});
            out.push_back({bound_name(c, k, false), m.upper_byte(c, k) + 1, Field::Byte, 0, 255, true});
        }
    for (int c = 1; c <= m.channels; ++c) {
        const std::string name = "Sorties/Canal " + std::to_string(c);
        if (kind == Kind::C120)
            out.push_back({name, output_index(c) - 1, Field::Mask, 0, 6, true});
        else // the window's output write puts channel 16's value in both bytes of word 126
            out.push_back({name, c220b::output_byte(c), Field::MinusOne, 0, 6, true, c == 16 ? 252 : -1});
    }
    out.push_back({"Somme de contrôle", kChecksumByte, Field::Byte, 0, 255, false});
    return out;
}

class MemorySettings : public settings::Family {
public:
    explicit MemorySettings(Kind kind) : map_(map_of(kind)), fields_(fields_of(kind)) {}

    std::string code() const override { return map_.code; }
    std::string title() const override { return map_.title; }

    std::vector<settings::Setting> all_settings() const override
    {
        std::vector<settings::Setting> out;
        for (const Field& f : fields_)
            out.push_back({f.name, f.min, f.max, f.writable});
        return out;
    }

    size_t image_size() const override { return kMemoryBytes; }

    std::map<std::string, int> from_image(const std::vector<uint8_t>& image) const override
    {
        std::map<std::string, int> out;
        if (image.size() != kMemoryBytes)
            return out;
        for (const Field& f : fields_)
            out[f.name] = decode(f, image[f.byte]);
        return out;
    }

    std::string read(Station& s, Progress* p, settings::Snapshot& out) override
    {
        if (std::string e = delays_usable(s); !e.empty())
            return e;
        ReadResult r;
        if (map_.kind == Kind::C120) {
            init_c(s); // as the window before its read: no valid flag left from an older one
            r = read_memory(s, p);
        } else {
            std::fill(s.memory_image.begin(), s.memory_image.begin() + 127, uint8_t(0));
            r = c220b::read_memory(s, p);
        }
        if (!r.opened)
            return "Le monayeur ne répond pas.";
        if (r.words < kWordCount || s.memory_image[0] != 1)
            return r.stopped ? "Lecture arrêtée au mot " + std::to_string(r.words + 1) + "."
                             : "Lecture interrompue au mot " + std::to_string(r.words + 1) +
                                   " : le monayeur ne répond plus.";
        // A memory whose checksum does not hold is no sound reference, and a
        // restore whose writes leave it so has not programmed the mechanism.
        if (!checksum_holds(s.memory_image))
            return "La somme de contrôle du monnayeur est fausse (lue " +
                   std::to_string(s.memory_image[kChecksumByte + 1]) + ", attendue " +
                   std::to_string(checksum(s.memory_image)) + ") : " +
                   (map_.kind == Kind::C120 ? "réparez-la depuis la fenêtre C120, puis recommencez."
                                            : "une écriture depuis la fenêtre C220B la remet à jour, puis recommencez.");
        out.family = code();
        out.delay = map_.kind == Kind::C120 ? s.delay.c120 : s.delay.c220b;
        out.identity.clear();
        out.image.assign(s.memory_image.begin() + 1, s.memory_image.begin() + 1 + kMemoryBytes);
        out.values = from_image(out.image);
        return "";
    }

    settings::WriteReport write(Station& s, const settings::Snapshot& target, const std::vector<std::string>& changed,
                                Progress* p) override
    {
        settings::WriteReport rep;
        if (std::string e = delays_usable(s); !e.empty()) {
            rep.error = e;
            return rep;
        }
        if (s.memory_image[0] != 1) { // each word write computes the checksum over the image
            rep.error = "Faites d'abord une lecture complète du monayeur : la somme de contrôle est calculée sur sa "
                        "mémoire.";
            return rep;
        }
        // Each word write's checksum is computed over the image: over one
        // whose checksum does not hold (a reply garbled into passing its check
        // in the read, or a memory left so) it would be wrong for the
        // mechanism, and its read-back would confirm it all the same.
        if (!checksum_holds(s.memory_image)) {
            rep.error = "La somme de contrôle de la mémoire lue est fausse (lue " +
                        std::to_string(s.memory_image[kChecksumByte + 1]) + ", attendue " +
                        std::to_string(checksum(s.memory_image)) + ") : relisez le monnayeur avant d'écrire.";
            return rep;
        }
        // The words holding a changed setting, in address order, each with
        // the names it holds.
        std::map<int, std::vector<const Field*>> words;
        for (const std::string& n : changed) {
            const auto f = std::find_if(fields_.begin(), fields_.end(), [&](const Field& x) { return x.name == n; });
            if (f == fields_.end() || !f->writable || !target.values.count(n))
                continue;
            words[f->byte / 2].push_back(&*f);
        }
        if (words.empty())
            return rep;
        begin_writes(s);
        start(p, int(words.size()));
        for (const auto& [address, held] : words) {
            if (stop_asked(p))
                break;
            // The word as the mechanism holds it, with only the changed bytes replaced.
            uint8_t bytes[2] = {s.memory_image[word_index(address)], s.memory_image[word_index(address) + 1]};
            for (const Field* f : held) {
                const uint8_t v = encode(*f, target.values.at(f->name));
                bytes[f->byte % 2] = v;
                if (f->copy >= 0 && f->copy / 2 == address)
                    bytes[f->copy % 2] = v;
            }
            WriteResult r;
            if (map_.kind == Kind::C120) {
                r = ecrit_data(s, address + 1, bytes[0], bytes[1]);
            } else {
                MaskedSection masked(*s.port);
                r = c220b::ecrit_data_c220(s, address, bytes[0], bytes[1]);
            }
            step(p);
            for (const Field* f : held)
                (r == WriteResult::Verified ? rep.verified : rep.failed).push_back(f->name);
            if (r == WriteResult::NoAnswer) {
                rep.error = "Le monayeur ne répond plus : écriture arrêtée au mot " + std::to_string(address + 1) + ".";
                break;
            }
            if (r == WriteResult::Unknown) {
                rep.error = "Deux relectures du mot " + std::to_string(address + 1) +
                            " ne concordent pas (ligne perturbée ?) : écriture arrêtée.";
                break;
            }
        }
        finish(p);
        end_writes(s);
        return rep;
    }

    settings::BandSet bands(const settings::Snapshot& snap) const override
    {
        Image image{};
        image[0] = 1;
        for (const Field& f : fields_)
            if (f.store == Field::Byte) {
                const auto v = snap.values.find(f.name);
                if (v != snap.values.end())
                    image[f.byte + 1] = uint8_t(v->second);
            }
        return image_bands(map_.kind, image);
    }

private:
    std::string delays_usable(const Station& s) const
    {
        auto refused = [](const char* family, int32_t d) {
            return std::string("Le compte de délai ") + family + " vaut " + std::to_string(d) +
                   " : il faut le calibrer (ZUNA07) avant de dialoguer avec le monayeur.";
        };
        if (map_.kind == Kind::C220B && s.delay.c220b < 1)
            return refused("C220B", s.delay.c220b);
        if (s.delay.c120 < 1) // the C220B's rest states and coin answers use it too
            return refused("C120", s.delay.c120);
        return "";
    }

    // The line around a run of word writes, as the windows' output writes frame theirs.
    void begin_writes(Station& s) const
    {
        MaskedSection masked(*s.port);
        if (map_.kind == Kind::C120) {
            ecrir_bit(s, kRest);
            ecrir_bit(s, kBit1);
        } else {
            ecrir_bit(s, c220b::kBefore);
        }
    }
    void end_writes(Station& s) const
    {
        MaskedSection masked(*s.port);
        if (map_.kind == Kind::C120) {
            ecrir_bit(s, kBit1);
            send_only(s, kClose);
            ecrir_bit(s, kRest);
        } else {
            ecrir_bit(s, c220b::kBefore);
            c220b::send_table(s, c220b::kClose, c220b::kWinOpenClose);
            ecrir_bit(s, c220b::kRest);
        }
    }

    const Map& map_;
    const std::vector<Field> fields_;
};

} // namespace

settings::ChannelBands channel_bands(int c, const std::array<uint8_t, 6>& b)
{
    settings::ChannelBands ch;
    ch.channel = c;
    ch.windows.resize(3);
    const bool inverted = b[0] < b[1] || b[2] < b[3] || b[4] < b[5];
    const bool zero = std::all_of(b.begin(), b.end(), [](uint8_t v) { return v == 0; });
    ch.enabled = !inverted && !zero;
    if (ch.enabled)
        for (int k = 0; k < 3; ++k)
            ch.windows[k] = settings::Band{b[2 * k + 1], b[2 * k]};
    return ch;
}

settings::BandSet image_bands(Kind kind, const Image& image)
{
    const Map& m = map_of(kind);
    settings::BandSet set;
    set.family = m.title;
    set.measurements = {"Mesure 1", "Mesure 2", "Mesure 3"};
    set.scale = {255, 255, 255};
    set.compared = {true, true, true};
    for (int c = 1; c <= m.channels; ++c) {
        if (image[0] != 1) { // never read: nothing known of any channel
            set.channels.push_back({c, false, std::vector<std::optional<settings::Band>>(3)});
            continue;
        }
        set.channels.push_back(
            channel_bands(c, kind == Kind::C120 ? channel_bounds(image, c) : c220b::channel_bounds(image, c)));
    }
    return set;
}

settings::BandSet window_bands(Kind kind, const Image& image, const WindowData& d)
{
    settings::BandSet set = image_bands(kind, image);
    if (d.coin)
        set.coin = std::vector<int>(d.coin->begin(), d.coin->end());
    for (const auto& s : d.samples)
        set.samples.push_back(std::vector<int>(s.begin(), s.end()));
    if (d.proposed) {
        std::vector<settings::Band> p;
        for (int k = 0; k < 3; ++k)
            p.push_back({(*d.proposed)[2 * k + 1], (*d.proposed)[2 * k]});
        set.proposed = p;
        set.proposed_channel = d.proposed_channel;
    }
    return set;
}

std::unique_ptr<settings::Family> make_c120_settings() { return std::make_unique<MemorySettings>(Kind::C120); }
std::unique_ptr<settings::Family> make_c220b_settings() { return std::make_unique<MemorySettings>(Kind::C220B); }

} // namespace zuna::c120
