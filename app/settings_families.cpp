#include "app/settings_families.h"

#include <functional>
#include <vector>

namespace zuna {

namespace {
struct Entry {
    const char* name;
    std::function<std::unique_ptr<settings::Family>()> make;
};
const std::vector<Entry>& entries()
{
    static const std::vector<Entry> e = {};
    return e;
}
} // namespace

std::unique_ptr<settings::Family> make_settings_family(const std::string& name)
{
    for (const Entry& e : entries())
        if (name == e.name)
            return e.make();
    return nullptr;
}

std::string family_of_code(const std::string& code)
{
    for (const Entry& e : entries())
        if (e.make()->code() == code)
            return e.name;
    return "";
}

} // namespace zuna
