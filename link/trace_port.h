#pragma once
// Wraps any port and writes a Value Change Dump of what went over the line:
// one microsecond step per port access, 10 ns per loop step of a pause, wires D0..D7 (data as written) and
// S3..S7 (status as read), value changes only. PulseView, GTKWave and
// sigrok-cli open it.
#include <cstdio>
#include <string>

#include "link/port.h"

namespace zuna {

class TracePort : public Port {
public:
    // Throws std::runtime_error when the file cannot be created.
    TracePort(Port& inner, const std::string& path);
    ~TracePort() override;

    void write_data_port(uint8_t value) override;
    uint8_t read_status_port() override;
    void mask_interrupts() override { inner_.mask_interrupts(); }
    void unmask_interrupts() override { inner_.unmask_interrupts(); }
    void idle(uint64_t loop_steps) override;
    uint64_t stalled_ns() const override { return inner_.stalled_ns(); }

    void flush();
    uint64_t time() const { return time_; }

private:
    void record_change(uint8_t data, uint8_t status);
    Port& inner_;
    std::FILE* file_ = nullptr;
    uint64_t time_ = 0;
    uint64_t idle_carry_ = 0; // hundredths of a µs of the pauses not yet counted
    uint64_t written_time_ = UINT64_MAX;
    uint8_t data_ = 0;
    uint8_t status_ = 0;
    bool first_ = true;
};

} // namespace zuna
