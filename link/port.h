#pragma once
// The two parallel-port registers every exchange goes through. Backends:
// PpdevPort (Linux ppdev), DirectPort (ioperm/outb), sim::Bench (simulated
// module and mechanism), TracePort (wraps any of them and writes a VCD).
#include <cstdint>

namespace zuna {

class Port {
public:
    virtual ~Port() = default;
    virtual void write_data_port(uint8_t value) = 0;  // one write to 0x378
    virtual uint8_t read_status_port() = 0;           // one read of 0x379
    virtual void mask_interrupts() = 0;               // start of a time-critical transfer
    virtual void unmask_interrupts() = 0;
    virtual void idle(uint64_t loop_steps) = 0;       // an empty counted loop (pauses)
    // Time the port has stood still since it opened, in ns: its clock ran on
    // while the thread made no access and ran no pause of its own (preempted,
    // an interrupt). Read around a measured reply: a level counted across such
    // a gap is not the level on the line. 0 on a port that cannot tell.
    virtual uint64_t stalled_ns() const { return 0; }
};

// The stalls over a stretch of port work: from construction, or from an
// earlier reading given to restart_from().
class StallWatch {
public:
    explicit StallWatch(const Port& port) : port_(port), start_(port.stalled_ns()) {}
    // Counts from an earlier reading of port.stalled_ns().
    void restart_from(uint64_t stalled_ns) { start_ = stalled_ns; }
    uint64_t stalled_ns() const { return port_.stalled_ns() - start_; }
    bool stalled() const { return stalled_ns() > 0; }

private:
    const Port& port_;
    uint64_t start_;
};

// Masks interrupts for the lifetime of the object, so every exit path unmasks.
class MaskedSection {
public:
    explicit MaskedSection(Port& port) : port_(port) { port_.mask_interrupts(); }
    ~MaskedSection() { port_.unmask_interrupts(); }
    MaskedSection(const MaskedSection&) = delete;
    MaskedSection& operator=(const MaskedSection&) = delete;

private:
    Port& port_;
};

} // namespace zuna
