// Stand-in for the dBase tables until the table layer lands: an in-memory
// model library with the same cursor behaviour.
#include <algorithm>
#include <vector>

#include "app/shell.h"
#include "store/model_library.h"
#include "store/tables.h"

namespace zuna::store {

std::string family_filter(const std::string& type_code) { return "type = '" + type_code + "'"; }

namespace {
class MemoryLibrary : public ModelLibrary {
public:
    bool append(const ModelRecord& r, std::string*) override
    {
        rows_.push_back(r);
        refilter();
        cursor_ = -1;
        for (int i = 0; i < int(view_.size()); ++i)
            if (view_[i] == int(rows_.size()) - 1)
                cursor_ = i;
        return true;
    }
    bool set_filter(const std::string& text, std::string*) override
    {
        filter_.clear();
        auto q1 = text.find('\'');
        auto q2 = text.rfind('\'');
        if (q1 != std::string::npos && q2 > q1)
            filter_ = text.substr(q1 + 1, q2 - q1 - 1);
        refilter();
        cursor_ = view_.empty() ? -1 : 0;
        return true;
    }
    bool first() override { return move(0); }
    bool prior() override { return move(cursor_ - 1); }
    bool next() override { return move(cursor_ + 1); }
    bool last() override { return move(int(view_.size()) - 1); }
    bool has_current() const override { return cursor_ >= 0 && cursor_ < int(view_.size()); }
    std::optional<ModelRecord> current() const override
    {
        if (!has_current())
            return std::nullopt;
        return rows_[view_[cursor_]];
    }
    bool delete_current(std::string*) override
    {
        if (!has_current())
            return false;
        rows_.erase(rows_.begin() + view_[cursor_]);
        refilter();
        cursor_ = std::min(cursor_, int(view_.size()) - 1);
        return true;
    }
    int visible_count() const override { return int(view_.size()); }

private:
    bool move(int to)
    {
        if (view_.empty())
            return false;
        cursor_ = std::clamp(to, 0, int(view_.size()) - 1);
        return true;
    }
    void refilter()
    {
        view_.clear();
        for (int i = 0; i < int(rows_.size()); ++i)
            if (filter_.empty() || rows_[i].type == filter_)
                view_.push_back(i);
        std::stable_sort(view_.begin(), view_.end(), [&](int a, int b) { return rows_[a].type < rows_[b].type; });
    }
    std::vector<ModelRecord> rows_;
    std::vector<int> view_;
    std::string filter_;
    int cursor_ = -1;
};

class MemoryTables : public Tables {
public:
    MemoryLibrary library;
};
} // namespace

std::unique_ptr<Tables> open_tables(Shell& shell, const QString&, QStringList*)
{
    auto t = std::make_unique<MemoryTables>();
    shell.models = &t->library;
    return t;
}

} // namespace zuna::store
