#pragma once
// The one cursor on a table: navigation in index order (key column, then
// record number), an optional filter given as the station's text
// ("type = 'C120'"), deleted records never visible. No Qt here.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/dbf.h"

namespace zuna::store {

// A parsed filter "field = 'value'": the value compared exactly with the
// column's text after its trailing blanks.
struct TableFilter {
    int field = -1;
    std::string value; // in the file's code page, trailing blanks removed
};

// Parses the station's filter text against the table's columns; the field
// name is case-insensitive. nullopt with a French message when it cannot.
std::optional<TableFilter> parse_filter(const std::string& text, const DbfFile& file, std::string* error);

class TableCursor {
public:
    TableCursor(std::unique_ptr<DbfFile> file, const std::string& key_field);

    DbfFile& file() { return *file_; }
    const DbfFile& file() const { return *file_; }

    // Empty text switches the filter off. The cursor goes to the first record.
    bool set_filter(const std::string& text, std::string* error);
    const std::string& filter_text() const { return filter_text_; }

    bool first();
    bool prior(); // false at the first record (stays there)
    bool next();  // false at the last record (stays there)
    bool last();
    bool has_current() const { return pos_ >= 0 && pos_ < int(view_.size()); }
    std::optional<uint32_t> current_record() const;
    int position() const { return pos_; } // -1 when there is no current record
    bool go_to(int position);
    int visible_count() const { return int(view_.size()); }
    const std::vector<uint32_t>& visible() const { return view_; }

    // Writes; the cursor then stands on the record written when it is
    // visible (after a delete, on the one that followed it).
    bool append(const DbfFile::Values& values, std::string* error);
    bool update_current(const DbfFile::Values& values, std::string* error);
    bool delete_current(std::string* error);
    // Takes in what other stations wrote; the cursor stays on its record.
    bool refresh(std::string* error);

private:
    void rebuild(std::optional<uint32_t> stay_on);
    bool matches(uint32_t rec) const;

    std::unique_ptr<DbfFile> file_;
    int key_ = -1;
    std::string filter_text_;
    std::optional<TableFilter> filter_;
    std::vector<uint32_t> order_; // every live record in index order
    std::vector<uint32_t> view_;  // those passing the filter
    int pos_ = -1;
};

} // namespace zuna::store
