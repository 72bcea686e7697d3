#include "sim/al3_mech.h"

#include <algorithm>
#include <cmath>

#include "sim/bench.h"

namespace zuna::sim {

namespace {
// Bit times of silence after which a transaction left half way is forgotten.
constexpr uint64_t kForgetBits = 500;
constexpr uint8_t kOpeningAnswer = 0x31;

// Characters that follow a command up to its "0".
int argument_count(uint8_t c)
{
    switch (c) {
    case 'R': return 2;
    case 'w': return 4;
    case 'r': return 3;
    case 'V': return 1;
    case 'v': return 4;
    case 'm': return 2;
    case 'I': return 3;
    case 'S': return 1;
    case 'g': return 3;
    default: return 0;
    }
}

// The factory coins of channels 1..6 (parameters; deltas 6).
const Al3Mech::Coin kCoins[6] = {{120, 88, 140, 60, 200, 96}, {132, 95, 150, 66, 210, 101},
                                 {145, 104, 163, 72, 222, 108}, {158, 113, 171, 80, 233, 115},
                                 {170, 121, 182, 86, 241, 122}, {96, 70, 110, 48, 160, 80}};
} // namespace

Al3Mech::Record Al3Mech::channel(const Coin& p, const Coin& d, int output, int time_ms, int value, int tolerance)
{
    Record r{};
    for (int k = 0; k < 6; ++k) {
        r[size_t(2 * k)] = p[size_t(k)];
        r[size_t(2 * k + 1)] = d[size_t(k)];
    }
    r[0x0C] = uint8_t(1u << output);
    r[0x0D] = uint8_t(time_ms / 2);
    r[0x0E] = uint8_t(value);
    r[0x0F] = uint8_t(tolerance);
    r[0x10] = 0x5A;
    r[0x11] = 0xA5;
    return r;
}

Al3Mech::Record Al3Mech::emptied()
{
    Record r;
    r.fill(0xFF);
    r[0x10] = 0x5A;
    r[0x11] = 0xA5;
    return r;
}

Al3Mech::Al3Mech(Bench& bench) : SerialMech(bench, kBitMicros)
{
    static const int kValues[6] = {10, 20, 50, 100, 100, 5};
    for (int c = 0; c < 12; ++c)
        records_[size_t(c)] = c < 6 ? channel(kCoins[c], {6, 6, 6, 6, 6, 6}, c + 1, 100 + 20 * c, kValues[c], 4)
                                    : emptied();
    records_[12].fill(0);
    records_[12][1] = 0x81;
    last_coin_ = kCoins[0];
}

std::vector<uint8_t> Al3Mech::received() const
{
    std::vector<uint8_t> out;
    for (const auto& c : commands())
        out.push_back(c[0]);
    return out;
}

void Al3Mech::execute(const std::vector<uint8_t>& cmd, uint64_t now)
{
    const uint8_t c = cmd[0];
    if (state_ != State::Teach && now - last_char_ > bit_.ticks(kForgetBits))
        state_ = State::Command;
    last_char_ = now;
    switch (state_) {
    case State::Teach:
        if (c == 'A') { // the teach is given up
            disarm_coin();
            state_ = State::Command;
            answer('A');
        } else {
            answer(c);
        }
        return;
    case State::ReadData:
        if (index_ < 18) {
            answer(records_[size_t(args_[0])][size_t(index_++)]);
        } else {
            answer(c);
            state_ = State::Command;
        }
        return;
    case State::EchoBack:
        answer(c);
        state_ = State::Command;
        return;
    case State::Opening:
        answer(c);
        if (++index_ == 3)
            state_ = State::Command;
        return;
    case State::Args:
        args_.push_back(c);
        if (int(args_.size()) == argument_count(command_))
            transaction(now);
        else
            answer(c);
        return;
    case State::Command:
        break;
    }
    answer(c);
    if (c == 'A')
        return;
    if (argument_count(c) > 0) {
        command_ = c;
        args_.clear();
        state_ = State::Args;
    }
}

void Al3Mech::transaction(uint64_t now)
{
    const std::vector<uint8_t>& a = args_;
    state_ = State::Command;
    switch (command_) {
    case 'S':
        answer('F');
        return;
    case 'R':
        if (a[0] > 12)
            break;
        if (a[0] == garbled_record_ && !garble_.empty()) {
            answer(uint8_t(records_[a[0]][0] ^ garble_.front()));
            garble_.pop_front();
        } else {
            answer(records_[a[0]][0]);
        }
        index_ = 1;
        state_ = State::ReadData;
        return;
    case 'w':
        if (a[1] >= 18 || a[2] > 12)
            break;
        keep(records_[a[2]][a[1]], a[0]);
        ++byte_writes_;
        if (power_cut_after_ > 0 && byte_writes_ >= power_cut_after_) {
            power_off();
            return;
        }
        answer(a[0]);
        state_ = State::EchoBack;
        return;
    case 'r':
        if (a[0] >= 18 || a[1] > 12)
            break;
        answer(records_[a[1]][a[0]]);
        state_ = State::EchoBack;
        return;
    case 'V':
        answer(faults_.other_family ? kOtherType : type_);
        return;
    case 'v':
        keep(type_, a[0]);
        answer(a[0]);
        state_ = State::EchoBack;
        return;
    case 'm':
        if (a[0] < 8 || a[0] > 13)
            break;
        answer(last_coin_[size_t(a[0] - 8)]);
        state_ = State::EchoBack;
        return;
    case 'g':
        answer(faults_.other_family ? uint8_t(kOpeningAnswer + 1) : kOpeningAnswer);
        index_ = 0;
        state_ = State::Opening;
        return;
    case 'I':
        answer(a[2]);
        if (a[0] < 1 || a[1] > 11)
            return;
        teach_n_ = a[0];
        teach_record_ = a[1];
        taught_.clear();
        state_ = State::Teach;
        arm_coin(now);
        return;
    default:
        break;
    }
    answer(a.back());
}

void Al3Mech::keep(uint8_t& at, uint8_t b)
{
    switch (next_write_fate()) {
    case WriteFate::Kept:
        at = b;
        break;
    case WriteFate::OneBitChanged:
        at = uint8_t(b ^ 0x01);
        break;
    case WriteFate::Lost:
        break;
    }
}

void Al3Mech::drop_coin(uint64_t now)
{
    // The coin is taken now: a wake time left in the past would be run again
    // at every port access.
    disarm_coin();
    if (state_ != State::Teach)
        return;
    Coin coin{};
    if (!coins_.empty()) {
        coin = coins_.front();
        coins_.pop_front();
    } else {
        for (int k = 0; k < 6; ++k) {
            std::normal_distribution<double> d(kCoins[0][size_t(k)], 1.5);
            coin[size_t(k)] = uint8_t(std::clamp(std::lround(d(rng_)), 0L, 255L));
        }
    }
    last_coin_ = coin;
    taught_.push_back(coin);
    // A jumping count skips the target: n - 1, then n + 1.
    const int count = int(taught_.size());
    reply({uint8_t(faults_.jumping_count && count == teach_n_ ? count + 1 : count)}, 2, 1);
    if (int(taught_.size()) < teach_n_) {
        arm_coin(now);
        return;
    }
    // The reference is the mean, the delta the half spread plus a margin.
    Record& r = records_[size_t(teach_record_)];
    for (int k = 0; k < 6; ++k) {
        int lo = 255, hi = 0, sum = 0;
        for (const Coin& t : taught_) {
            lo = std::min<int>(lo, t[size_t(k)]);
            hi = std::max<int>(hi, t[size_t(k)]);
            sum += t[size_t(k)];
        }
        r[size_t(2 * k)] = uint8_t((sum + int(taught_.size()) / 2) / int(taught_.size()));
        r[size_t(2 * k + 1)] = uint8_t(std::min(30, (hi - lo + 1) / 2 + 3));
    }
    state_ = State::Command;
}

} // namespace zuna::sim
