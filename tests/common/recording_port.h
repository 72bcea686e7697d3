#pragma once
// Forwards every access to another port and keeps them, runs of the same
// access merged: what the families' line-order tests read back.
#include <cstdint>
#include <vector>

#include "link/port.h"

namespace zuna::test {

struct RecordingPort : Port {
    enum Kind { Write, Read, Idle, Mask, Unmask };
    struct Event {
        Kind kind;
        uint8_t value;
        int64_t count;
    };
    explicit RecordingPort(Port& inner) : inner_(inner) {}
    void write_data_port(uint8_t v) override
    {
        add(Write, v, 1);
        inner_.write_data_port(v);
    }
    uint8_t read_status_port() override
    {
        add(Read, 0, 1);
        return inner_.read_status_port();
    }
    void mask_interrupts() override
    {
        events.push_back({Mask, 0, 1});
        inner_.mask_interrupts();
    }
    void unmask_interrupts() override
    {
        events.push_back({Unmask, 0, 1});
        inner_.unmask_interrupts();
    }
    void idle(uint64_t n) override
    {
        add(Idle, 0, int64_t(n));
        inner_.idle(n);
    }
    void add(Kind k, uint8_t v, int64_t n)
    {
        if (!events.empty() && events.back().kind == k && events.back().value == v && k != Mask && k != Unmask)
            events.back().count += n;
        else
            events.push_back({k, v, n});
    }
    std::vector<Event> events;

private:
    Port& inner_;
};

} // namespace zuna::test
