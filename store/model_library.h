#pragma once
// The model library: one shared cursor on mall7.dbf (the main window owns
// it), filtered per mechanism family by the station's filter texts.
// No Qt here; the browsers (store/browsers.h) show and move this cursor.
#include <array>
#include <optional>
#include <string>

namespace zuna::store {

struct ModelRecord {
    std::string type;  // TYPE, 4 characters
    std::string piece; // PIECE, up to 15 characters (UTF-8 here)
    std::array<std::optional<int>, 12> c{}; // C1..C12 (index 0 is C1); empty = blank in the file
    std::array<std::optional<int>, 6> t{};  // T1..T6
};

// Filter text of a family: "type = '" + code + "'".
std::string family_filter(const std::string& type_code);

class ModelLibrary {
public:
    virtual ~ModelLibrary() = default;

    // Appends a record; the whole record is checked first. On refusal the
    // file is untouched and *error holds the French message.
    virtual bool append(const ModelRecord& r, std::string* error) = 0;

    // Filter given as the station's text ("type = 'C120'"); empty switches it off.
    virtual bool set_filter(const std::string& filter_text, std::string* error) = 0;

    // Navigation in index order (TYPE, then record number) within the filter.
    virtual bool first() = 0;
    virtual bool prior() = 0;
    virtual bool next() = 0;
    virtual bool last() = 0;
    virtual bool has_current() const = 0;
    virtual std::optional<ModelRecord> current() const = 0;
    virtual bool delete_current(std::string* error) = 0;
    virtual int visible_count() const = 0;
    // Position of the current record among the visible ones (-1 for none).
    virtual int position() const = 0;
    // Takes in what other stations wrote to the table since it was read.
    virtual bool refresh(std::string* error) = 0;
    // Nothing can be stored or deleted (a read-only file or folder).
    virtual bool read_only() const = 0;
    // Whether a text column can hold this UTF-8 text (the file's code page).
    virtual bool can_store_text(const std::string& utf8) const = 0;
};

} // namespace zuna::store
