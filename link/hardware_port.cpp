#include "link/hardware_port.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <linux/ppdev.h>
#include <cstdio>
#include <cstdlib>

#include "link/sys_text.h"

namespace zuna {

namespace {
std::string sys_error(int err) { return french_error(err); }
} // namespace

void spin_steps(uint64_t steps)
{
    volatile uint64_t counter = 0;
    for (uint64_t i = 0; i < steps; ++i)
        counter = counter + 1;
}

std::optional<double> parse_pause_floor(const std::string& text, std::string* error)
{
    const size_t first = text.find_first_not_of(" \t");
    const std::string t = first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(" \t") - first + 1);
    // Digits with at most one decimal point or comma: no sign, exponent, "inf" or "nan".
    // Read by hand, as strtod would follow the locale.
    bool ok = !t.empty() && t != "." && t != ",";
    bool in_fraction = false;
    double value = 0, scale = 1;
    for (const char c : t) {
        if ((c == '.' || c == ',') && !in_fraction) {
            in_fraction = true;
        } else if (c >= '0' && c <= '9' && value <= kMaxPauseFloorNs) {
            if (in_fraction)
                value += (c - '0') * (scale /= 10);
            else
                value = value * 10 + (c - '0');
        } else if (!(c >= '0' && c <= '9')) {
            ok = false;
        }
    }
    if (ok && value <= kMaxPauseFloorNs)
        return value;
    if (error)
        *error = "Plancher des pauses « " + text + " » refusé : il faut un nombre de nanosecondes par pas de "
                 "boucle, de 0 (sans plancher) à 10 (par défaut).";
    return std::nullopt;
}

void floored_idle(SysCalls& sys, uint64_t steps, double floor_ns)
{
    if (!(floor_ns > 0)) {
        spin_steps(steps);
        return;
    }
    const uint64_t start = sys.steady_ns();
    spin_steps(steps);
    const uint64_t until = start + uint64_t(std::ceil(double(steps) * floor_ns));
    while (sys.steady_ns() < until) {
    }
}

PpdevPort::PpdevPort(const std::string& device, SysCalls& sys, RealtimeGuard::Notice notice, double pause_floor_ns)
    : sys_(sys), device_(device), guard_(std::move(notice)), floor_ns_(pause_floor_ns)
{
    fd_ = sys_.open(device.c_str(), O_RDWR);
    if (fd_ < 0) {
        const int err = errno;
        std::string hint;
        if (err == EACCES)
            hint = " Ajoutez l'utilisateur au groupe « lp » (ou une règle udev), sans lancer le programme en root.";
        else if (err == ENOENT || err == ENODEV || err == ENXIO)
            hint = " Aucun port parallèle ici : chargez le module ppdev (modprobe ppdev) ou lancez le banc simulé "
                   "avec --simulate.";
        throw PortError("Impossible d'ouvrir le port " + device + " : " + sys_error(err) + "." + hint);
    }
    if (sys_.ioctl(fd_, PPCLAIM, nullptr) != 0) {
        const int err = errno;
        release();
        throw PortError("Le port " + device + " est occupé ou refusé (PPCLAIM) : " + sys_error(err) + ".");
    }
    claimed_ = true;
}

PpdevPort::~PpdevPort() { release(); }

void PpdevPort::release()
{
    if (claimed_) {
        sys_.ioctl(fd_, PPRELEASE, nullptr);
        claimed_ = false;
    }
    if (fd_ >= 0) {
        sys_.close(fd_);
        fd_ = -1;
    }
}

void PpdevPort::write_data_port(uint8_t value)
{
    unsigned char v = value;
    if (sys_.ioctl(fd_, PPWDATA, &v) != 0 && last_error_.empty())
        last_error_ = "Écriture refusée sur " + device_ + " : " + sys_error(errno);
    gaps_.access();
}

uint8_t PpdevPort::read_status_port()
{
    unsigned char v = 0;
    if (sys_.ioctl(fd_, PPRSTATUS, &v) != 0 && last_error_.empty())
        last_error_ = "Lecture refusée sur " + device_ + " : " + sys_error(errno);
    gaps_.access();
    return v;
}

void PpdevPort::idle(uint64_t loop_steps)
{
    floored_idle(sys_, loop_steps, floor_ns_);
    gaps_.pause();
}

DirectPort::DirectPort(uint16_t base, SysCalls& sys, RealtimeGuard::Notice notice, double pause_floor_ns)
    : sys_(sys), base_(base), guard_(std::move(notice)), floor_ns_(pause_floor_ns)
{
    if (sys_.ioperm(base_, 3, 1) != 0) {
        const int err = errno;
        char hex[8];
        std::snprintf(hex, sizeof hex, "%X", base_);
        const std::string where = "Accès direct au port 0x" + std::string(hex);
        // ENOSYS: this kernel or processor has no I/O ports to open, whatever the rights.
        if (err == ENOSYS)
            throw PortError(where + " impossible : ce noyau ou ce processeur n'offre pas l'accès direct aux ports "
                                    "(ioperm). Utilisez --port /dev/parport0 (module ppdev).");
        std::string hint = ". Préférez --port /dev/parport0.";
        if (err == EPERM || err == EACCES)
            hint = ". Il faut la capacité CAP_SYS_RAWIO ; préférez --port /dev/parport0.";
        throw PortError(where + " refusé : " + sys_error(err) + hint);
    }
}

DirectPort::~DirectPort() { sys_.ioperm(base_, 3, 0); }

void DirectPort::idle(uint64_t loop_steps)
{
    floored_idle(sys_, loop_steps, floor_ns_);
    gaps_.pause();
}

std::optional<uint16_t> direct_port_base(const std::string& where)
{
    if (where.rfind("io:", 0) != 0)
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long base = std::strtoul(where.c_str() + 3, &end, 0);
    if (errno != 0 || end == where.c_str() + 3 || *end != '\0' || base == 0 || base > 0xFFFC)
        throw PortError("Adresse de port invalide : « " + where + " » (exemple : io:0x378).");
    return uint16_t(base);
}

std::unique_ptr<Port> open_hardware_port(const std::string& where, RealtimeGuard::Notice notice,
                                         double pause_floor_ns)
{
    if (const auto base = direct_port_base(where))
        return std::make_unique<DirectPort>(*base, real_syscalls(), std::move(notice), pause_floor_ns);
    return std::make_unique<PpdevPort>(where, real_syscalls(), std::move(notice), pause_floor_ns);
}

} // namespace zuna
