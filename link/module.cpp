#include "link/module.h"

#include "link/rounding.h"
#include "link/timing.h"

namespace zuna {

namespace {

constexpr uint8_t kWave = 0x20;
constexpr uint8_t kMemoryData = 0x40;

void put_lines(Station& s) { s.port->write_data_port(uint8_t(s.module_lines | 0x60)); }
void clock_low(Station& s) { s.module_lines &= 0x1B; put_lines(s); }
void clock_high(Station& s) { s.module_lines |= 0x0C; put_lines(s); }
void select_low(Station& s) { s.module_lines &= 0x17; put_lines(s); }
void data_bit(Station& s, bool one)
{
    if (one)
        s.module_lines |= 0x10;
    else
        s.module_lines &= 0x0F;
    put_lines(s);
}

void send_byte(Station& s, uint8_t b)
{
    for (int i = 0; i < 8; ++i) {
        clock_low(s);
        module_short_pause(*s.port);
        data_bit(s, (b >> i) & 1);
        clock_high(s);
        module_short_pause(*s.port);
    }
}

uint8_t receive_byte(Station& s)
{
    uint8_t b = 0;
    for (int i = 0; i < 8; ++i) {
        module_short_pause(*s.port);
        data_bit(s, true);
        clock_low(s);
        module_short_pause(*s.port);
        if (s.port->read_status_port() & kMemoryData)
            b = uint8_t(b | (1u << i));
        clock_high(s);
    }
    return b;
}

// Reads pause with the long pause, the zone 0 write with the short one.
void open_transfer(Station& s, bool long_pauses)
{
    auto pause = [&] {
        if (long_pauses)
            module_long_pause(*s.port);
        else
            module_short_pause(*s.port);
    };
    clock_high(s);
    if (!long_pauses)
        module_short_pause(*s.port);
    pause();
    select_low(s);
    pause();
    clock_high(s);
}

void send_command(Station& s, uint8_t a, uint8_t b, uint8_t c)
{
    send_byte(s, a);
    send_byte(s, b);
    send_byte(s, c);
}

} // namespace

int32_t measure_module(Port& port)
{
    MaskedSection masked(port);
    port.write_data_port(0xFF);
    count_while(port, kWave, true, kNoModule);   // wait for the low phase
    count_while(port, kWave, false, kNoModule);  // wait for the high phase
    return int32_t(count_while(port, kWave, true, kNoModule));
}

int32_t measure_module(Station& s)
{
    s.measured_module_count = measure_module(*s.port);
    s.module_measure = s.measured_module_count;
    return s.measured_module_count;
}

void lir_s1(Station& s)
{
    open_transfer(s, true);
    send_command(s, 0x69, 0xC0, 0x3F);
    for (auto& b : s.zone0)
        b = receive_byte(s);
    s.port->write_data_port(0x61);
}

void lir_s2(Station& s, const std::array<uint8_t, 8>& access_code)
{
    open_transfer(s, true);
    send_command(s, 0x66, 0x10, 0xEF);
    for (int i = 0; i < 8; ++i)
        (void)receive_byte(s); // the chip's own eight bytes, not used
    for (uint8_t b : access_code)
        send_byte(s, b);
    for (auto& b : s.zone1)
        b = receive_byte(s);
    s.port->write_data_port(0x61);
}

void ecrit_cle_0(Station& s)
{
    open_transfer(s, false);
    send_command(s, 0x96, 0xC0, 0x3F);
    for (uint8_t b : s.zone0)
        send_byte(s, b);
    s.port->write_data_port(0x63);
}

int32_t zone0_word(const std::array<uint8_t, kZone0Size>& z, int offset)
{
    return int32_t(z[offset]) + int32_t(z[offset + 1]) * 256;
}

void set_zone0_word(std::array<uint8_t, kZone0Size>& z, int offset, int32_t value)
{
    z[offset] = uint8_t(value & 255);
    z[offset + 1] = uint8_t((value / 256) & 255);
}

int32_t zone0_g13(const std::array<uint8_t, kZone0Size>& z)
{
    return z[49] + z[50] * 256 + z[51] * 512 + z[52] * 1024 + z[53] * 2048 + z[54] * 4096;
}

void set_zone0_g13(std::array<uint8_t, kZone0Size>& z, int32_t value)
{
    // Greedy from the top: b54 takes 4096s, b53..b50 one each of 2048..256.
    if (value < 0)
        value = 0;
    const int32_t max = 255 * 4096 + 4095;
    if (value > max)
        value = max;
    int32_t rest = value;
    z[54] = uint8_t(rest / 4096);
    rest %= 4096;
    const int weights[4] = {2048, 1024, 512, 256};
    for (int i = 0; i < 4; ++i) {
        z[53 - i] = uint8_t(rest / weights[i]);
        rest %= weights[i];
    }
    z[49] = uint8_t(rest);
}

int32_t module_reference(const std::array<uint8_t, kZone1Size>& z1)
{
    const int32_t g = int32_t(z1[8]) + int32_t(z1[9]) * 256;
    return g == 0 ? 1 : g;
}

bool module_memory_silent(const Station& s)
{
    auto all_ones = [](const auto& zone) {
        for (uint8_t b : zone)
            if (b != 0xFF)
                return false;
        return true;
    };
    return all_ones(s.zone0) && all_ones(s.zone1);
}

void load_delay_counts(Station& s)
{
    lir_s1(s);
    lir_s2(s, kModuleAccessCode);
    // A memory chip that does not answer reads as ones everywhere: taken
    // literally that is a delay count of 65535 per family (minutes per
    // transfer) and a reference of 65535 (computed counts of 0). Nothing is
    // stored then, and the reference is this PC's own measurement, which
    // leaves the original PC's nominal counts.
    s.module_memory_silent = module_memory_silent(s);

    DelayCounts& d = s.delay;
    if (!s.module_memory_silent) {
        auto take = [&](int32_t& count, int32_t stored) {
            if (stored > 0)
                count = stored;
        };
        take(d.alb, zone0_word(s.zone0, kZ0Alb));
        take(d.rm4, zone0_word(s.zone0, kZ0Rm4));
        take(d.rm3, zone0_word(s.zone0, kZ0Rm3));
        take(d.c220, zone0_word(s.zone0, kZ0C220));
        take(d.c220b, zone0_word(s.zone0, kZ0C220b));
        take(d.c120, zone0_word(s.zone0, kZ0C120));
        take(d.g136, zone0_word(s.zone0, kZ0G136));
        take(d.g13, zone0_g13(s.zone0));
    }

    const int32_t m = s.module_measure > 0 ? s.module_measure : s.measured_module_count;
    const int32_t g = s.module_memory_silent ? (m > 0 ? m : 1) : module_reference(s.zone1);
    // Products in 32 bits, then a real division rounded halves to even.
    auto scaled = [&](int32_t k) { return int32_t(div_round_even(int64_t(int32_t(uint32_t(m) * uint32_t(k))), g)); };

    if (d.g13 != 0)
        s.g13_stored = d.g13;
    else
        d.g13 = scaled(1900);
    if (d.g136 == 0)
        d.g136 = scaled(140);
    if (d.c120 == 0)
        d.c120 = scaled(138);
    if (d.c220b == 0)
        d.c220b = d.c120;
    if (d.c220 == 0)
        d.c220 = scaled(90);
    if (d.rm3 == 0 || d.rm3 > 200)
        d.rm3 = scaled(68);
    if (d.rm4 == 0 || d.rm4 > 200)
        d.rm4 = scaled(68);
    if (d.alb == 0 || d.alb > 200)
        d.alb = scaled(68);

    s.measured_copy = m;
    s.reference_copy = g;
}

} // namespace zuna
