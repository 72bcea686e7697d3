#pragma once
// The model library on mall7.dbf. No Qt here.
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "store/model_library.h"
#include "store/table_cursor.h"

namespace zuna::store {

// Columns of mall7.dbf in file order.
const std::vector<DbfColumn>& model_columns();

class ModelTable : public ModelLibrary {
public:
    // file must have model_columns() (DbfFile::has_columns).
    explicit ModelTable(std::unique_ptr<DbfFile> file);

    bool append(const ModelRecord& r, std::string* error) override;
    bool set_filter(const std::string& filter_text, std::string* error) override;
    bool first() override { return cursor_.first(); }
    bool prior() override { return cursor_.prior(); }
    bool next() override { return cursor_.next(); }
    bool last() override { return cursor_.last(); }
    bool has_current() const override { return cursor_.has_current(); }
    std::optional<ModelRecord> current() const override;
    bool delete_current(std::string* error) override { return cursor_.delete_current(error); }
    int visible_count() const override { return cursor_.visible_count(); }
    // Edits the current record and posts it (checked as a whole like append).
    bool update_current(const ModelRecord& r, std::string* error);
    int position() const override { return cursor_.position(); }
    bool refresh(std::string* error) override { return cursor_.refresh(error); }
    bool read_only() const override { return cursor_.file().read_only(); }
    bool can_store_text(const std::string& utf8) const override;

    TableCursor& cursor() { return cursor_; }
    DbfFile& file() { return cursor_.file(); }

private:
    bool values_of(const ModelRecord& r, DbfFile::Values& v, std::string* error) const;

    TableCursor cursor_;
    int type_, piece_;
    std::array<int, 12> c_{};
    std::array<int, 6> t_{};
};

// Opens dir/mall7.dbf (any letter case), creating it when missing. nullptr
// with a French message when it cannot; *notice tells about a repair or a
// read-only table.
std::unique_ptr<ModelTable> open_model_table(const std::string& dir, std::string* error, std::string* notice);

} // namespace zuna::store
