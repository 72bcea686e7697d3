#include "app/settings_families.h"

#include <functional>
#include <vector>

#include "alberici/al3_settings.h"
#include "c120/c120_settings.h"
#include "c220/c220_settings.h"
#include "nri/g136_settings.h"
#include "nri/g13_settings.h"
#include "seci/seci_settings.h"

namespace zuna {

namespace {
struct Entry {
    const char* name;
    std::function<std::unique_ptr<settings::Family>()> make;
};
const std::vector<Entry>& entries()
{
    static const std::vector<Entry> e = {
        {"c120", c120::make_c120_settings},
        {"c220b", c120::make_c220b_settings},
        {"c220", c220::make_c220_settings},
        {"g13", nri::make_g13_settings},
        {"g136", nri::make_g136_settings},
        {"rm3", seci::make_rm3_settings},
        {"rm4", seci::make_rm4_settings},
        {"al3", alberici::make_al3_settings},
    };
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
