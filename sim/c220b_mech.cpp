#include "sim/c220b_mech.h"

#include "sim/bench.h"

namespace zuna::sim {

C220BMech::C220BMech(Bench& bench) : SerialMech(bench, 139.0) { memory_ = factory_memory(); }

// The other family: a C120 on the C220B's line, with a C120's memory.
void C220BMech::start()
{
    if (faults_.other_family)
        memory_ = C120Mech::factory_memory();
    SerialMech::start();
}

int C220BMech::command_length(const std::vector<uint8_t>& begun) const
{
    return faults_.other_family ? SerialMech::command_length(begun) : c220b_command_length(begun);
}

void C220BMech::execute(const std::vector<uint8_t>& c, uint64_t now)
{
    if (faults_.other_family)
        SerialMech::execute(c, now);
    else
        c220b_execute(c, now);
}

int SerialMech::c220b_command_length(const std::vector<uint8_t>& begun) const
{
    switch (begun.empty() ? 0 : begun[0]) {
    case 0x05: // open and close: 3 bytes; read word: 4
        return begun.size() >= 2 && (begun[1] == 0x78 || begun[1] == 0x79) ? 3 : 4;
    case 0x7A: // write word
        return 5;
    case 0xFF: // measure coin
        return 2;
    default:
        return 0;
    }
}

void SerialMech::c220b_execute(const std::vector<uint8_t>& c, uint64_t now)
{
    if (c.size() == 3 && c[0] == 0x05 && (c[1] == 0x78 || c[1] == 0x79) && c[2] == c[1]) { // open, close
        disarm_coin();
        reply({c[1] == 0x78 ? open_answer() : uint8_t(5)});
    } else if (c.size() == 2 && c[0] == 0xFF && c[1] == 0xFF) { // measure coin
        reply({5});
        arm_coin(now);
    } else if (c.size() >= 4) {
        SerialMech::execute(c, now); // read and write words as the C120
    }
}

std::array<uint8_t, 256> C220BMech::factory_memory()
{
    std::array<uint8_t, 256> m{};
    for (int i = 0; i < 18; ++i)
        m[i] = uint8_t(0x40 + i);
    for (int i = 114; i < 236; ++i)
        m[i] = uint8_t(i * 5);
    const auto& cat = coin_catalogue();
    for (int c = 1; c <= 16; ++c) {
        for (int k = 0; k < 3; ++k) {
            const int at = 18 + 2 * (c - 1) + 32 * k;
            if (c <= int(cat.size())) {
                const int mean = int(cat[c - 1].mean[k]);
                m[at] = uint8_t(mean + 5);
                m[at + 1] = uint8_t(mean - 5);
            } else {
                m[at] = 0;
                m[at + 1] = 255;
            }
        }
        const int out = c == 16 ? 253 : ((236 + c) ^ 1);
        m[out] = uint8_t((c - 1) % 4);
    }
    m[237] = 0x11; // kept as it stands when outputs are written
    m[252] = m[253];
    m[255] = 0;
    seal_checksum(m);
    return m;
}

} // namespace zuna::sim
