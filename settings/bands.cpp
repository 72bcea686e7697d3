#include "settings/bands.h"

namespace zuna::settings {

namespace {
bool compared(const BandSet& set, size_t m) { return set.compared.empty() || (m < set.compared.size() && set.compared[m]); }
} // namespace

bool overlap(const BandSet& set, const ChannelBands& a, const ChannelBands& b)
{
    if (!a.enabled || !b.enabled || a.channel == b.channel)
        return false;
    bool any = false;
    const size_t n = std::min(a.windows.size(), b.windows.size());
    for (size_t m = 0; m < n; ++m) {
        if (!compared(set, m) || !a.windows[m] || !b.windows[m])
            continue;
        const Band& x = *a.windows[m];
        const Band& y = *b.windows[m];
        // An inverted window (low above high) accepts nothing: it separates.
        if (x.low > x.high || y.low > y.high || x.high < y.low || y.high < x.low)
            return false;
        any = true;
    }
    // Two channels with no measurement bounded by both are not compared at all.
    return any;
}

std::vector<std::pair<int, int>> overlaps(const BandSet& set)
{
    std::vector<std::pair<int, int>> out;
    for (size_t i = 0; i < set.channels.size(); ++i)
        for (size_t j = i + 1; j < set.channels.size(); ++j)
            if (overlap(set, set.channels[i], set.channels[j])) {
                const int a = set.channels[i].channel, b = set.channels[j].channel;
                out.push_back({std::min(a, b), std::max(a, b)});
            }
    return out;
}

std::vector<int> overlaps_after_write(const BandSet& set, int channel, const std::vector<std::optional<Band>>& windows)
{
    ChannelBands written{channel, true, windows};
    std::vector<int> out;
    for (const ChannelBands& c : set.channels)
        if (c.channel != channel && overlap(set, written, c))
            out.push_back(c.channel);
    return out;
}

std::vector<std::optional<bool>> coin_inside(const BandSet& set, const ChannelBands& c)
{
    std::vector<std::optional<bool>> out(c.windows.size());
    if (!set.coin)
        return out;
    for (size_t m = 0; m < c.windows.size() && m < set.coin->size(); ++m)
        if (c.windows[m])
            out[m] = (*set.coin)[m] >= c.windows[m]->low && (*set.coin)[m] <= c.windows[m]->high;
    return out;
}

std::string overlap_question(int channel, const std::vector<int>& others)
{
    if (others.size() == 1) {
        const int a = std::min(channel, others[0]), b = std::max(channel, others[0]);
        return "Les canaux " + std::to_string(a) + " et " + std::to_string(b) +
               " se recouvrent : une même pièce serait acceptée par les deux. Écrire quand même ?";
    }
    std::string list;
    for (size_t i = 0; i < others.size(); ++i)
        list += (i == 0 ? "" : i + 1 == others.size() ? " et " : ", ") + std::to_string(others[i]);
    return "Le canal " + std::to_string(channel) + " recouvrirait les canaux " + list +
           " : une même pièce serait acceptée par plusieurs canaux. Écrire quand même ?";
}

std::string overlap_statement(const std::vector<std::pair<int, int>>& pairs)
{
    if (pairs.size() == 1)
        return "Les canaux " + std::to_string(pairs[0].first) + " et " + std::to_string(pairs[0].second) +
               " se recouvrent : une même pièce serait acceptée par les deux.";
    std::string list;
    for (size_t i = 0; i < pairs.size(); ++i)
        list += (i == 0 ? "" : i + 1 == pairs.size() ? " et " : ", ") + std::to_string(pairs[i].first) + "-" +
                std::to_string(pairs[i].second);
    return "Les canaux " + list + " se recouvrent : une même pièce serait acceptée par deux canaux.";
}

std::string overlap_question(const std::vector<std::pair<int, int>>& pairs)
{
    return overlap_statement(pairs) + " Écrire quand même ?";
}

} // namespace zuna::settings
