#include "store/frequency_table.h"

namespace zuna::store {

namespace {
// Members of FrequencyRecord in the order of frequency_columns() after APPAREIL.
constexpr std::optional<int> FrequencyRecord::*kCounts[] = {
    &FrequencyRecord::c120, &FrequencyRecord::c220, &FrequencyRecord::c220b,
    &FrequencyRecord::g13,  &FrequencyRecord::g136, &FrequencyRecord::rm3,
    &FrequencyRecord::rm4,  &FrequencyRecord::alb,  &FrequencyRecord::op,
};
} // namespace

const std::vector<DbfColumn>& frequency_columns()
{
    static const std::vector<DbfColumn> columns = {
        {"APPAREIL", 'C', 25, 0}, {"C120", 'N', 6, 0}, {"C220", 'N', 6, 0}, {"C220B", 'N', 6, 0},
        {"G13", 'N', 6, 0},       {"G136", 'N', 6, 0}, {"RM3", 'N', 6, 0},  {"RM4", 'N', 6, 0},
        {"ALB", 'N', 6, 0},       {"OP", 'N', 6, 0},
    };
    return columns;
}

FrequencyTable::FrequencyTable(std::unique_ptr<DbfFile> file) : cursor_(std::move(file), "APPAREIL")
{
    for (const auto& c : frequency_columns())
        col_.push_back(cursor_.file().field_index(c.name));
}

FrequencyRecord FrequencyTable::read(uint32_t rec) const
{
    const DbfFile& f = cursor_.file();
    FrequencyRecord r;
    r.appareil = f.text(rec, col_[0]);
    for (size_t i = 0; i < std::size(kCounts); ++i)
        r.*kCounts[i] = f.integer(rec, col_[i + 1]);
    return r;
}

DbfFile::Values FrequencyTable::values_of(const FrequencyRecord& r) const
{
    DbfFile::Values v(cursor_.file().fields().size());
    if (col_[0] >= 0)
        v[col_[0]] = r.appareil;
    for (size_t i = 0; i < std::size(kCounts); ++i)
        if (col_[i + 1] >= 0)
            v[col_[i + 1]] = number_text(r.*kCounts[i]);
    return v;
}

namespace {
// A set is found again by its PC name: a blank one is refused.
bool named(const FrequencyRecord& r, std::string* error)
{
    if (r.appareil.find_first_not_of(' ') != std::string::npos)
        return true;
    if (error)
        *error = "Le nom du PC est vide : rien n'est enregistré.";
    return false;
}
} // namespace

bool FrequencyTable::append(const FrequencyRecord& r, std::string* error)
{
    return named(r, error) && cursor_.append(values_of(r), error);
}

bool FrequencyTable::update_current(const FrequencyRecord& r, std::string* error)
{
    if (!named(r, error))
        return false;
    const auto rec = cursor_.current_record();
    if (!rec)
        return cursor_.update_current(values_of(r), error); // refused: no current record
    // Columns the station does not know stay as they are.
    DbfFile::Values v = cursor_.file().values(*rec);
    const DbfFile::Values mine = values_of(r);
    for (int i : col_)
        if (i >= 0)
            v[i] = mine[i];
    return cursor_.update_current(v, error);
}

std::optional<FrequencyRecord> FrequencyTable::current() const
{
    const auto rec = cursor_.current_record();
    if (!rec)
        return std::nullopt;
    return read(*rec);
}

std::vector<FrequencyRecord> FrequencyTable::records() const
{
    std::vector<FrequencyRecord> out;
    for (uint32_t rec : cursor_.visible())
        out.push_back(read(rec));
    return out;
}

std::unique_ptr<FrequencyTable> open_frequency_table(const std::string& dir, std::string* error,
                                                     std::string* notice)
{
    auto f = open_table(dir, "calib.dbf", frequency_columns(), error, notice);
    if (!f)
        return nullptr;
    return std::make_unique<FrequencyTable>(std::move(f));
}

} // namespace zuna::store
