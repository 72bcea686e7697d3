#pragma once
// The frequency table calib.dbf: named sets of delay counts, one per PC,
// in APPAREIL order. No Qt here.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/table_cursor.h"

namespace zuna::store {

struct FrequencyRecord {
    std::string appareil; // APPAREIL, up to 25 characters (UTF-8 here)
    std::optional<int> c120, c220, c220b, g13, g136, rm3, rm4, alb, op;
};

// Columns of calib.dbf in file order.
const std::vector<DbfColumn>& frequency_columns();

class FrequencyTable {
public:
    explicit FrequencyTable(std::unique_ptr<DbfFile> file);

    // Adds a record and posts it; the whole record is checked first.
    bool append(const FrequencyRecord& r, std::string* error);
    bool update_current(const FrequencyRecord& r, std::string* error);
    bool delete_current(std::string* error) { return cursor_.delete_current(error); }

    bool first() { return cursor_.first(); }
    bool go_to(int position) { return cursor_.go_to(position); }
    std::optional<FrequencyRecord> current() const;
    int visible_count() const { return cursor_.visible_count(); }
    // Every visible record in index order (for a grid).
    std::vector<FrequencyRecord> records() const;

private:
    FrequencyRecord read(uint32_t rec) const;
    DbfFile::Values values_of(const FrequencyRecord& r) const;

    TableCursor cursor_;
    std::vector<int> col_; // field index of each column of frequency_columns()
};

// Opens dir/calib.dbf (any letter case), creating it when missing.
std::unique_ptr<FrequencyTable> open_frequency_table(const std::string& dir, std::string* error,
                                                     std::string* notice);

} // namespace zuna::store
