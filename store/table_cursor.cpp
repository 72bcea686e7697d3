#include "store/table_cursor.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace zuna::store {

namespace {

bool is_space(char c) { return c == ' ' || c == '\t'; }

std::string_view trim_blanks(std::string_view s)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.remove_suffix(1);
    return s;
}

} // namespace

std::optional<TableFilter> parse_filter(const std::string& text, const DbfFile& file, std::string* error)
{
    const auto fail = [&](const char* why) -> std::optional<TableFilter> {
        if (error)
            *error = "Le filtre « " + text + " » " + why;
        return std::nullopt;
    };
    size_t i = 0;
    const auto skip = [&] {
        while (i < text.size() && is_space(text[i]))
            ++i;
    };
    skip();
    const size_t name_start = i;
    while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_'))
        ++i;
    const std::string name = text.substr(name_start, i - name_start);
    if (name.empty())
        return fail("ne nomme pas de champ.");
    skip();
    if (i >= text.size() || text[i] != '=')
        return fail("n'est pas de la forme champ = 'valeur'.");
    ++i;
    skip();
    if (i >= text.size() || (text[i] != '\'' && text[i] != '"'))
        return fail("n'est pas de la forme champ = 'valeur'.");
    const char quote = text[i++];
    const size_t close = text.find(quote, i);
    if (close == std::string::npos)
        return fail("a une valeur sans guillemet de fin.");
    const std::string value = text.substr(i, close - i);
    i = close + 1;
    skip();
    if (i != text.size())
        return fail("n'est pas de la forme champ = 'valeur'.");
    TableFilter f;
    f.field = file.field_index(name);
    if (f.field < 0)
        return fail(("porte sur le champ " + name + " que la table " + file.path() + " n'a pas.").c_str());
    const auto bytes = from_utf8(value, file.code_page());
    if (!bytes)
        return fail("contient un caractère que la table ne connaît pas.");
    f.value = std::string(trim_blanks(*bytes));
    return f;
}

TableCursor::TableCursor(std::unique_ptr<DbfFile> file, const std::string& key_field)
    : file_(std::move(file)), key_(file_->field_index(key_field))
{
    rebuild(std::nullopt);
    pos_ = view_.empty() ? -1 : 0;
}

bool TableCursor::matches(uint32_t rec) const
{
    return !filter_ || trim_blanks(file_->raw(rec, filter_->field)) == filter_->value;
}

void TableCursor::rebuild(std::optional<uint32_t> stay_on)
{
    const uint32_t n = file_->record_count();
    // Key then record number: records taken in file order into one bucket
    // per key value, buckets in key order. The model library has a handful
    // of distinct types, so this is close to a single pass.
    std::map<std::string_view, std::vector<uint32_t>> buckets;
    std::vector<uint32_t>* last_bucket = nullptr;
    std::string_view last_key;
    for (uint32_t r = 0; r < n; ++r) {
        if (file_->deleted(r))
            continue;
        const std::string_view key = key_ >= 0 ? file_->raw(r, key_) : std::string_view();
        if (!last_bucket || key != last_key) {
            last_bucket = &buckets[key];
            last_key = key;
        }
        last_bucket->push_back(r);
    }
    order_.clear();
    order_.reserve(n);
    for (const auto& [key, records] : buckets)
        order_.insert(order_.end(), records.begin(), records.end());
    view_.clear();
    for (uint32_t r : order_)
        if (matches(r))
            view_.push_back(r);
    pos_ = -1;
    if (stay_on) {
        const auto it = std::find(view_.begin(), view_.end(), *stay_on);
        if (it != view_.end())
            pos_ = int(it - view_.begin());
    }
}

bool TableCursor::set_filter(const std::string& text, std::string* error)
{
    std::optional<TableFilter> f;
    if (!text.empty()) {
        f = parse_filter(text, *file_, error);
        if (!f)
            return false;
    }
    filter_ = f;
    filter_text_ = text;
    // Only the filter changed: the index order stays.
    view_.clear();
    for (uint32_t r : order_)
        if (matches(r))
            view_.push_back(r);
    pos_ = view_.empty() ? -1 : 0;
    return true;
}

bool TableCursor::first() { return go_to(0); }
bool TableCursor::last() { return go_to(int(view_.size()) - 1); }

bool TableCursor::prior()
{
    if (!has_current() || pos_ == 0)
        return false;
    --pos_;
    return true;
}

bool TableCursor::next()
{
    if (!has_current() || pos_ + 1 >= int(view_.size()))
        return false;
    ++pos_;
    return true;
}

bool TableCursor::go_to(int position)
{
    if (position < 0 || position >= int(view_.size()))
        return false;
    pos_ = position;
    return true;
}

std::optional<uint32_t> TableCursor::current_record() const
{
    if (!has_current())
        return std::nullopt;
    return view_[pos_];
}

bool TableCursor::append(const DbfFile::Values& values, std::string* error)
{
    const auto before = current_record();
    if (!file_->append(values, error)) {
        rebuild(before);
        return false;
    }
    const uint32_t rec = file_->record_count() - 1;
    rebuild(matches(rec) ? std::optional<uint32_t>(rec) : before);
    if (pos_ < 0 && !view_.empty())
        pos_ = 0;
    return true;
}

bool TableCursor::update_current(const DbfFile::Values& values, std::string* error)
{
    const auto rec = current_record();
    if (!rec) {
        if (error)
            *error = "Aucune fiche n'est sélectionnée.";
        return false;
    }
    if (!file_->update(*rec, values, error)) {
        rebuild(rec);
        return false;
    }
    rebuild(rec);
    if (pos_ < 0 && !view_.empty())
        pos_ = 0;
    return true;
}

bool TableCursor::delete_current(std::string* error)
{
    const auto rec = current_record();
    if (!rec) {
        if (error)
            *error = "Aucune fiche n'est sélectionnée.";
        return false;
    }
    // Stay on the record that followed (or, at the end, the one before).
    std::optional<uint32_t> then;
    if (pos_ + 1 < int(view_.size()))
        then = view_[pos_ + 1];
    else if (pos_ > 0)
        then = view_[pos_ - 1];
    const bool ok = file_->remove(*rec, error);
    rebuild(ok ? then : rec); // the write re-read the file: other stations' records come in
    if (pos_ < 0 && !view_.empty())
        pos_ = 0;
    return ok;
}

bool TableCursor::refresh(std::string* error)
{
    const auto rec = current_record();
    const bool ok = file_->refresh(error);
    rebuild(rec);
    if (pos_ < 0 && !view_.empty())
        pos_ = 0;
    return ok;
}

} // namespace zuna::store
