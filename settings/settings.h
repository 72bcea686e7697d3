#pragma once
// A mechanism's whole settings as one flat list of named values, the same
// for every family: what a settings file holds, what a restore compares and
// writes. Each family describes its settings (`Family`) and reads and writes
// them through its own verified link operations; the comparison, the checks
// of a file and the report are here, once.
//
// No Qt here: the windows, the command line and the tests share it.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/progress.h"
#include "settings/bands.h"
#include "link/station.h"

namespace zuna::settings {

constexpr int kFormat = 1; // settings file format this station writes and reads

// One setting: its name as the operator sees it, sections separated by "/"
// ("Canal 3/Mesure 1/min", "Sorties/Canal 2", "Mode"), its range, and
// whether the station writes it back (identity, checksums: never).
struct Setting {
    std::string name;
    int min = 0;
    int max = 255;
    bool writable = true;
};

struct Snapshot {
    int format = kFormat;
    std::string family;   // model library type code ("C120", "NRI1", "rm4", ...)
    std::string date;     // when it was read, "AAAA-MM-JJTHH:MM:SS" local time
    int32_t delay = 0;    // the delay count the read used
    // What the mechanism says of itself (G13 identity, production date...):
    // shown and kept, compared, never written.
    std::vector<std::pair<std::string, std::string>> identity;
    std::map<std::string, int> values; // one per Setting, by name
    std::vector<uint8_t> image;        // raw memory image; empty for families without one
};

// What a family's verified writes did with the settings they were given.
struct WriteReport {
    std::vector<std::string> verified; // written and read back as asked
    std::vector<std::string> failed;   // written, but not held or not read back
    std::string error;                 // French, why it stopped ("" when it did not)
};

class Family {
public:
    virtual ~Family() = default;
    virtual std::string code() const = 0;  // model library type code
    virtual std::string title() const = 0; // as the speed bar names it: "C120", "NRI G13.0000"
    // Every setting, in the order the window shows them.
    virtual std::vector<Setting> all_settings() const = 0;
    // Families with a memory image: the image's size and the named settings it
    // holds, so that a file whose image and settings disagree is refused.
    virtual size_t image_size() const { return 0; }
    virtual std::map<std::string, int> from_image(const std::vector<uint8_t>& image) const
    {
        (void)image;
        return {};
    }
    // The whole read (the window's own reading): fills family, delay,
    // identity, every value and the image. Returns "" or, in French, why
    // nothing usable was read (nothing of `out` is then used).
    virtual std::string read(Station& s, Progress* p, Snapshot& out) = 0;
    // Writes `changed` (names of writable settings) with their values in
    // `target` (a whole checked snapshot), through the family's verified
    // writes, touching only the words / records / frames that hold them. Stops
    // at the first write the mechanism does not answer.
    virtual WriteReport write(Station& s, const Snapshot& target, const std::vector<std::string>& changed,
                              Progress* p) = 0;
    // The channel windows a snapshot holds, as the "Graphique" view draws
    // them: a restore asks before it writes windows that overlap.
    virtual BandSet bands(const Snapshot& s) const = 0;
};

// A text from a file as a message can show it: control characters (a NUL
// byte cuts a C string and a terminal line) written as \u00XX.
std::string shown(const std::string& text);

// "" when the snapshot is a whole, sound settings set of this family; else
// a French message naming the first fault (another family, a newer format,
// a missing or unknown setting, a value out of range, an image of the wrong
// size or one that disagrees with the named settings).
std::string check(const Family& f, const Snapshot& s);

// One row of a comparison.
struct Row {
    std::string name;
    std::optional<int> mechanism; // nullopt: not read
    int file = 0;
    bool writable = true;
    bool differs() const { return !mechanism || *mechanism != file; }
};
struct Comparison {
    std::vector<Row> rows;            // every setting, in the family's order
    std::vector<std::pair<std::string, std::pair<std::string, std::string>>> identity; // name -> (mechanism, file)
    std::vector<std::string> to_write() const; // writable rows that differ
};
Comparison compare(const Family& f, const Snapshot& mechanism, const Snapshot& file);

// How a restore ended.
struct Outcome {
    enum Kind {
        Held,        // every writable setting holds the file's value
        NotHeld,     // written, but some setting does not hold it (listed)
        NoAnswer,    // the mechanism did not answer (before or part-way)
        Stopped,     // the operator stopped it
    } kind = Held;
    Comparison before;                // mechanism against file before any write
    std::vector<std::string> written; // written and verified
    std::vector<std::string> failed;  // not holding the file's value after the write
    std::vector<std::string> not_written; // not reached
    std::string error;                // French, when the read or a write failed
    bool dry_run = false;
    // The report in French: "N réglages écrits, tous vérifiés" or the list.
    std::string message() const;
    int exit_code() const { return kind == Held ? 0 : 1; }
};

// Reads the mechanism, compares it with `file` (already checked), and unless
// dry_run writes what differs, reads the mechanism again and checks every
// setting against the file. `before` is called with the comparison before
// anything is written; returning false ends the restore there (nothing
// written, kind Stopped).
Outcome restore(Station& s, Family& f, const Snapshot& file, bool dry_run, Progress* p,
                const std::function<bool(const Comparison&)>& before = {});
// The same in two halves, for a window that shows the comparison between
// them: read and compare, then write what differs and verify.
std::optional<Comparison> read_and_compare(Station& s, Family& f, const Snapshot& file, Progress* p,
                                          std::string* error);
Outcome write_and_verify(Station& s, Family& f, const Snapshot& file, const Comparison& before, Progress* p);

// The comparison as a plain text table (the command line prints it).
std::string table_text(const Comparison& c);

// One line of the clone log: "date;heure;famille;identité;réglages écrits;résultat",
// fields quoted as RFC 4180 does (with ';' as the separator).
std::string log_header();
// The identity is the mechanism's, as the comparison read it.
std::string log_line(const std::string& date, const std::string& time, const std::string& family, const Outcome& o);

} // namespace zuna::settings
