#pragma once
// The simulated C120 (and the base of the simulated C220B): a mechanism with
// a 256-byte memory on a bit-banged serial line. It receives on data bit 0
// the way its own receiver would (start edge, mid-bit sampling at its own bit
// time, stop bit checked), answers on status bit 7 (start bit 1, inverted
// data, stop level 0, a pause after each byte), really writes its memory, and
// measures coins dropped by the bench. A character whose stop bit is low,
// or that begins no command (one sent at another speed, as the frequency
// window's probes are), is answered with 0xFA once the line has rested ten bit times: its start bit
// and data bit 0 make one stretch of two bit times at the mechanism's own
// speed, which is what the frequency window measures.
#include <array>
#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "sim/catalogue.h"
#include "sim/mech_clock.h"

namespace zuna::sim {

// Sets byte 254 so that the 8-bit sum of all bytes but byte 1 is 0.
void seal_checksum(std::array<uint8_t, 256>& memory);


// A coin of the catalogue: mean and spread of its three measured values.
struct CoinModel {
    const char* name;
    std::array<double, 3> mean;
    std::array<double, 3> spread;
};
const std::vector<CoinModel>& coin_catalogue();

class SerialMech : public Mechanism {
public:
    // bit_micros: the mechanism's bit time in microseconds at PC speed 1.
    SerialMech(Bench& bench, double bit_micros);

    void start() override;
    void on_data(uint64_t now, uint8_t old_value, uint8_t value) override;
    void on_wake(uint64_t now) override;

    std::array<uint8_t, 256>& memory() { return memory_; }
    const std::array<uint8_t, 256>& memory() const { return memory_; }
    uint16_t word(int address) const { return uint16_t(memory_[2 * address] << 8 | memory_[2 * address + 1]); }
    bool checksum_holds() const; // sum of all bytes but byte 1 is 0 (mod 256)
    void fix_checksum();         // sets byte 254 so that it holds

    uint64_t bit_ticks() const { return bit_ticks_; }
    bool powered() const { return powered_; }
    int word_writes() const { return word_writes_; }
    int framing_errors() const { return framing_errors_; }
    // Characters not framed or beginning no command are answered with kNak.
    static constexpr uint8_t kNak = 0xFA;
    // Rest before it: longer than the stop bits between a command's bytes.
    static constexpr int kNakRestBits = 10;
    int naks() const { return naks_; }
    // Commands understood, in order (bytes as received).
    const std::vector<std::vector<uint8_t>>& commands() const { return commands_; }

    // Coins: exact values queued by a test come first; otherwise the
    // current catalogue coin with its spread. The coin drops coin_delay after
    // the measurement is asked for; with coins off nobody passes one.
    void queue_coin(uint8_t p1, uint8_t p2, uint8_t p3) { queued_.push_back({p1, p2, p3}); }
    void set_coin(int catalogue_index) { coin_ = catalogue_index; }
    void set_coin_delay_micros(double us);
    void set_coins(bool on) { coins_on_ = on; }
    int coins_dropped() const { return coins_dropped_; }

    // Writes to this word address are acknowledged but not kept (-1: none);
    // with second_only the first byte is kept and the second is not.
    void lose_writes_to(int address, bool second_only = false)
    {
        lost_address_ = address;
        lose_second_only_ = second_only;
    }
    // The next n word-read replies carry a wrong check byte (a bad line).
    void spoil_reads(int n) { spoiled_ = n; }
    // The next n open replies come garbled (not the acknowledge byte).
    void spoil_opens(int n) { spoiled_opens_ = n; }
    int opens() const { return opens_; }
    // The mechanism loses power on its n-th word read from now (0: never).
    void power_cut_at_read(int n) { cut_at_read_ = n > 0 ? word_reads_ + n : 0; }
    int word_reads() const { return word_reads_; }

protected:
    // Number of bytes of the command begun by these bytes (0: not a command).
    virtual int command_length(const std::vector<uint8_t>& begun) const;
    // The C120 acts on a command's last byte at its eighth data bit (the
    // station listens right after it); the C220B waits for its stop bit.
    virtual bool acts_before_stop() const { return true; }
    // A whole command has come in; now is the tick its last data bit was sampled.
    virtual void execute(const std::vector<uint8_t>& c, uint64_t now);
    // The C220B's commands (in c220b_mech.cpp): three-byte open and close,
    // two-byte coin measurement, words as the C120.
    int c220b_command_length(const std::vector<uint8_t>& begun) const;
    void c220b_execute(const std::vector<uint8_t>& c, uint64_t now);
    // The line the receiver watches.
    virtual bool line(uint8_t data) const { return data & 1; }

    // Sends bytes on the reply line after `delay_bits` bit times, each byte
    // followed by a pause of pause_bits at level 0 (appended to a reply under way).
    void reply(const std::vector<uint8_t>& bytes, int delay_bits = 2, int pause_bits = 8);
    void arm_coin(uint64_t now);
    void disarm_coin() { coin_due_ = kNever; }
    // The coin armed by arm_coin drops: the C120's measurement reply by default.
    virtual void drop_coin(uint64_t now);
    void power_off();
    // Stores a word write as the faults of the run let it (wrong-readback,
    // lost-write, lost-checksum) and the test knobs (lose_writes_to).
    void store_word(int address, uint8_t first, uint8_t second);
    bool checksum_lost_ = false; // lost-checksum has struck (once per run)

    Bench& bench_ref_;
    std::array<uint8_t, 256> memory_{};
    uint64_t bit_ticks_;
    MechClock bit_; // its bit time, drift included
    bool powered_ = true;
    int word_writes_ = 0;
    int word_reads_ = 0;
    int spoiled_ = 0;
    int spoiled_opens_ = 0;
    int opens_ = 0;
    int cut_at_read_ = 0;
    // The answer to an open: the acknowledge, or a garbled byte while spoiled.
    uint8_t open_answer();
    int lost_address_ = -1;
    bool lose_second_only_ = false;

private:
    void schedule();
    void sample(uint64_t now);
    void finish_command(uint64_t now);
    void send_next(uint64_t now);

    // Receiver.
    enum class Rx { Idle, Start, Data, Stop };
    Rx rx_ = Rx::Idle;
    uint64_t rx_start_ = 0;
    uint64_t rx_next_ = kNever;
    uint64_t last_byte_end_ = 0;
    int rx_bit_ = 0;
    uint8_t rx_byte_ = 0;
    std::vector<uint8_t> command_;
    int framing_errors_ = 0;
    std::vector<std::vector<uint8_t>> commands_;
    // A character it could not frame (sent at another speed) is answered
    // with kNak once the line has rested kNakRestBits bit times.
    bool nak_pending_ = false;
    uint64_t nak_at_ = kNever;
    int naks_ = 0;

    // Transmitter: levels, one per bit time (or longer pauses), in bit
    // times; edges are counted from the start bit of their character.
    struct Segment {
        bool level;
        double bits;
        bool frame = false; // a start bit
    };
    std::deque<Segment> tx_;
    uint64_t tx_next_ = kNever;
    uint64_t tx_origin_ = 0;
    double tx_bits_ = 0;

    // Coins.
    uint64_t coin_due_ = kNever;
    uint64_t coin_delay_;
    bool coins_on_ = true;
    int coin_ = 0;
    int coins_dropped_ = 0;
    std::deque<std::array<uint8_t, 3>> queued_;
    std::mt19937 rng_{1234};
};

// The C120: twelve channels, bit time of 139 accesses at speed 1 (the default
// C120 delay count of 138, plus one). It sleeps from power-up until a wake-up
// pulse: data bit 1 held high at least 1 ms (its own clock), then low. A
// shorter pulse is ignored; asleep, it hears nothing on its receive line.
class C120Mech : public SerialMech {
public:
    explicit C120Mech(Bench& bench);
    // The factory memory: plausible windows for six coins, outputs, checksum.
    static std::array<uint8_t, 256> factory_memory();
    // With the other-family fault it is a C220B: its commands, its memory.
    void start() override;
    void on_data(uint64_t now, uint8_t old_value, uint8_t value) override;
    bool awake() const { return awake_; }
    static constexpr uint8_t kWakeLine = 0x02;
    static constexpr double kWakeMicros = 1000;

protected:
    int command_length(const std::vector<uint8_t>& begun) const override;
    bool acts_before_stop() const override { return !faults_.other_family; }
    void execute(const std::vector<uint8_t>& c, uint64_t now) override;

private:
    uint64_t wake_ticks_;
    uint64_t high_since_ = 0;
    bool awake_ = false;
};

} // namespace zuna::sim
