#include "store/model_table.h"

namespace zuna::store {

std::string family_filter(const std::string& type_code) { return "type = '" + type_code + "'"; }

const std::vector<DbfColumn>& model_columns()
{
    static const std::vector<DbfColumn> columns = {
        {"TYPE", 'C', 4, 0},  {"C1", 'N', 6, 0},  {"C2", 'N', 6, 0},  {"C3", 'N', 6, 0},  {"C4", 'N', 6, 0},
        {"C5", 'N', 6, 0},    {"C6", 'N', 6, 0},  {"C7", 'N', 6, 0},  {"C8", 'N', 6, 0},  {"PIECE", 'C', 15, 0},
        {"C9", 'N', 6, 0},    {"C10", 'N', 6, 0}, {"C11", 'N', 6, 0}, {"C12", 'N', 6, 0}, {"T1", 'N', 6, 0},
        {"T2", 'N', 6, 0},    {"T3", 'N', 6, 0},  {"T4", 'N', 6, 0},  {"T5", 'N', 6, 0},  {"T6", 'N', 6, 0},
    };
    return columns;
}

ModelTable::ModelTable(std::unique_ptr<DbfFile> file) : cursor_(std::move(file), "TYPE")
{
    const DbfFile& f = cursor_.file();
    type_ = f.field_index("TYPE");
    piece_ = f.field_index("PIECE");
    for (int i = 0; i < 12; ++i)
        c_[i] = f.field_index("C" + std::to_string(i + 1));
    for (int i = 0; i < 6; ++i)
        t_[i] = f.field_index("T" + std::to_string(i + 1));
}

bool ModelTable::values_of(const ModelRecord& r, DbfFile::Values& v, std::string* error) const
{
    const DbfFile& f = cursor_.file();
    if (type_ < 0 || piece_ < 0) {
        if (error)
            *error = "La table " + f.path() + " n'a pas les colonnes TYPE et PIECE.";
        return false;
    }
    v.assign(f.fields().size(), std::string());
    v[type_] = r.type;
    v[piece_] = r.piece;
    for (int i = 0; i < 12; ++i)
        if (c_[i] >= 0)
            v[c_[i]] = number_text(r.c[i]);
    for (int i = 0; i < 6; ++i)
        if (t_[i] >= 0)
            v[t_[i]] = number_text(r.t[i]);
    return true;
}

bool ModelTable::append(const ModelRecord& r, std::string* error)
{
    DbfFile::Values v;
    return values_of(r, v, error) && cursor_.append(v, error);
}

bool ModelTable::update_current(const ModelRecord& r, std::string* error)
{
    DbfFile::Values v;
    const auto rec = cursor_.current_record();
    if (rec)
        v = cursor_.file().values(*rec); // columns the station does not know stay as they are
    DbfFile::Values mine;
    if (!values_of(r, mine, error))
        return false;
    if (!rec)
        return cursor_.update_current(mine, error);
    const auto set = [&](int i) {
        if (i >= 0)
            v[i] = mine[i];
    };
    set(type_);
    set(piece_);
    for (int i : c_)
        set(i);
    for (int i : t_)
        set(i);
    return cursor_.update_current(v, error);
}

bool ModelTable::can_store_text(const std::string& utf8) const
{
    return from_utf8(utf8, cursor_.file().code_page()).has_value();
}

bool ModelTable::set_filter(const std::string& filter_text, std::string* error)
{
    return cursor_.set_filter(filter_text, error);
}

std::optional<ModelRecord> ModelTable::current() const
{
    const auto rec = cursor_.current_record();
    if (!rec)
        return std::nullopt;
    const DbfFile& f = cursor_.file();
    ModelRecord m;
    m.type = f.text(*rec, type_);
    m.piece = f.text(*rec, piece_);
    for (int i = 0; i < 12; ++i)
        m.c[i] = f.integer(*rec, c_[i]);
    for (int i = 0; i < 6; ++i)
        m.t[i] = f.integer(*rec, t_[i]);
    return m;
}

std::unique_ptr<ModelTable> open_model_table(const std::string& dir, std::string* error, std::string* notice)
{
    auto f = open_table(dir, "mall7.dbf", model_columns(), error, notice);
    if (!f)
        return nullptr;
    return std::make_unique<ModelTable>(std::move(f));
}

} // namespace zuna::store
