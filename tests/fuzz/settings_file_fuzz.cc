// Settings files as anyone may write them: any bytes must end in a checked
// snapshot or a French refusal, never a crash, and an accepted snapshot must
// pass the same check again and survive a round trip unchanged.
#include <cstdlib>

#include "tests/common/fake_family.h"
#include "settings_file/settings_file.h"

using namespace zuna;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    test::FakeFamily f;
    std::string error;
    const QByteArray json(reinterpret_cast<const char*>(data), int(size));
    const std::optional<settings::Snapshot> s = settings::from_json(f, json, &error);
    if (!s) {
        if (error.empty())
            std::abort();
        return 0;
    }
    if (!settings::check(f, *s).empty())
        std::abort();
    const std::optional<settings::Snapshot> again = settings::from_json(f, settings::to_json(f, *s), &error);
    if (!again || again->values != s->values || again->image != s->image || again->identity.size() != s->identity.size())
        std::abort();
    return 0;
}
