#pragma once
// The simulated C220B, on the serial base of the simulated C120.
#include "sim/c120_mech.h"

namespace zuna::sim {

// The C220B: sixteen channels, the same bit time (its default delay count
// is the C120's), three-byte open and close, a two-byte coin measurement,
// each command taken after its stop bit.
class C220BMech : public SerialMech {
public:
    explicit C220BMech(Bench& bench);
    static std::array<uint8_t, 256> factory_memory();
    // With the other-family fault it is a C120: its commands, its memory.
    void start() override;

protected:
    int command_length(const std::vector<uint8_t>& begun) const override;
    bool acts_before_stop() const override { return faults_.other_family; }
    void execute(const std::vector<uint8_t>& c, uint64_t now) override;
};

} // namespace zuna::sim
