#pragma once
// A port that counts what is done to it and answers a fixed status.
#include <cstdint>
#include <vector>

#include "link/port.h"

namespace zuna::test {

struct CountingPort : Port {
    int64_t writes = 0;
    int64_t reads = 0;
    uint64_t idle_steps = 0;
    int idle_calls = 0;
    int masks = 0;
    int unmasks = 0;
    uint8_t status = 0;
    uint8_t last = 0;
    std::vector<uint8_t> written; // only when record is true
    bool record = false;
    int64_t stall_at_read = -1;  // that read waits 100 µs first (a stall)
    int64_t status_from_read = -1; // from that read on, the status reads `later`
    uint8_t later = 0;
    uint64_t stalled = 0;

    void write_data_port(uint8_t v) override
    {
        ++writes;
        last = v;
        if (record)
            written.push_back(v);
    }
    uint8_t read_status_port() override
    {
        if (++reads == stall_at_read)
            stalled += 100000;
        return status_from_read >= 0 && reads >= status_from_read ? later : status;
    }
    void mask_interrupts() override { ++masks; }
    void unmask_interrupts() override { ++unmasks; }
    void idle(uint64_t n) override
    {
        idle_steps += n;
        ++idle_calls;
    }
    uint64_t stalled_ns() const override { return stalled; }
};

} // namespace zuna::test
