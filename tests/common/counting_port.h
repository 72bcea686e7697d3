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

    void write_data_port(uint8_t v) override
    {
        ++writes;
        last = v;
        if (record)
            written.push_back(v);
    }
    uint8_t read_status_port() override
    {
        ++reads;
        return status;
    }
    void mask_interrupts() override { ++masks; }
    void unmask_interrupts() override { ++unmasks; }
    void idle(uint64_t n) override
    {
        idle_steps += n;
        ++idle_calls;
    }
};

} // namespace zuna::test
