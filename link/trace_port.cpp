#include "link/trace_port.h"

#include "link/sys_text.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace zuna {

namespace {
// VCD identifiers: D0..D7 are '!'..'(' and S3..S7 are ')'..'-'.
char data_id(int bit) { return char('!' + bit); }
char status_id(int bit) { return char(')' + (bit - 3)); }
} // namespace

TracePort::TracePort(Port& inner, const std::string& path) : inner_(inner)
{
    file_ = std::fopen(path.c_str(), "w");
    if (!file_)
        throw std::runtime_error("Impossible de créer la trace " + path + " : " + french_error(errno));
    std::fputs("$date zuna07 $end\n$version zuna07 1.25 $end\n$timescale 1 us $end\n$scope module port $end\n",
               file_);
    for (int b = 0; b < 8; ++b)
        std::fprintf(file_, "$var wire 1 %c D%d $end\n", data_id(b), b);
    for (int b = 3; b < 8; ++b)
        std::fprintf(file_, "$var wire 1 %c S%d $end\n", status_id(b), b);
    std::fputs("$upscope $end\n$enddefinitions $end\n", file_);
}

TracePort::~TracePort()
{
    if (file_) {
        std::fprintf(file_, "#%llu\n", static_cast<unsigned long long>(time_ + 1));
        std::fclose(file_);
    }
}

void TracePort::flush()
{
    if (file_)
        std::fflush(file_);
}

void TracePort::record_change(uint8_t data, uint8_t status)
{
    const uint8_t dchg = first_ ? 0xFF : uint8_t(data ^ data_);
    const uint8_t schg = first_ ? 0xF8 : uint8_t((status ^ status_) & 0xF8);
    if (dchg == 0 && schg == 0)
        return;
    if (written_time_ != time_) {
        std::fprintf(file_, "#%llu\n", static_cast<unsigned long long>(time_));
        written_time_ = time_;
    }
    for (int b = 0; b < 8; ++b)
        if (dchg & (1u << b))
            std::fprintf(file_, "%d%c\n", (data >> b) & 1, data_id(b));
    for (int b = 3; b < 8; ++b)
        if (schg & (1u << b))
            std::fprintf(file_, "%d%c\n", (status >> b) & 1, status_id(b));
    data_ = data;
    status_ = status;
    first_ = false;
}

void TracePort::write_data_port(uint8_t value)
{
    inner_.write_data_port(value);
    record_change(value, status_);
    ++time_;
}

uint8_t TracePort::read_status_port()
{
    const uint8_t s = inner_.read_status_port();
    record_change(data_, s);
    ++time_;
    return s;
}

void TracePort::idle(uint64_t loop_steps)
{
    // The pause shows as elapsed time: 10 ns a loop step (the default floor,
    // and the bench's step at speed 1), the hundredths of a µs carried over.
    inner_.idle(loop_steps);
    const uint64_t hundredths = loop_steps + idle_carry_;
    time_ += hundredths / 100;
    idle_carry_ = hundredths % 100;
}

} // namespace zuna
