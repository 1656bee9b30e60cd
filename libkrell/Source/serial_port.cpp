// Only the kernel's termios2 definitions are used here (never <termios.h>): they carry BOTHER,
// which lets a line run at rates outside the classic table, such as 3,125,000 baud.
#include "libkrell/Source/serial_port.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "libkrell/Handle/unique_fd.h"
#include "libkrell/Source/write_within.h"
#include "scribe/logger.h"

namespace krell {
namespace lidar {
namespace {

struct StandardRate {
    uint32_t baud;
    unsigned int code;
};

// Classic rate codes: drivers that predate BOTHER still accept these.
constexpr StandardRate kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

// A driver may round an arbitrary rate to what its clock divides into; beyond this the two ends
// of the line no longer agree on bit times.
constexpr uint32_t kRateTolerancePerMille = 20;

// While alive, gives up the exclusive hold of a tty whose open failed part-way; declared after
// the descriptor's owner so that it runs before the descriptor closes.
class ExclusiveRelease {
public:
    explicit ExclusiveRelease(int fd) : fd_(fd) {}
    ~ExclusiveRelease() {
        if (fd_ >= 0) ::ioctl(fd_, TIOCNXCL);
    }
    ExclusiveRelease(const ExclusiveRelease&) = delete;
    ExclusiveRelease& operator=(const ExclusiveRelease&) = delete;
    void Keep() { fd_ = -1; }

private:
    int fd_;
};

}  // namespace

SerialPort::~SerialPort() {
    Close();
}

bool SerialPort::Open(const std::string& name, uint32_t baud) {
    Close();
    if (baud == 0) {
        SLOG_ERROR("serial port %s: line speed %u baud is not supported", name.c_str(), baud);
        return false;
    }
    UniqueFd fd(::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        SLOG_ERROR("serial port %s: open failed: %s", name.c_str(), std::strerror(errno));
        return false;
    }
    if (::ioctl(fd.get(), TIOCEXCL) != 0) {
        SLOG_ERROR("serial port %s: exclusive open refused: %s", name.c_str(),
                   std::strerror(errno));
        return false;
    }
    ExclusiveRelease release_on_failure(fd.get());
    if (!Configure(fd.get(), name, baud)) return false;
    release_on_failure.Keep();
    tty_ = std::move(fd);
    fd_.store(tty_.get());
    return true;
}

bool SerialPort::Configure(int fd, const std::string& name, uint32_t baud) {
    struct termios2 tio;
    std::memset(&tio, 0, sizeof(tio));
    if (::ioctl(fd, TCGETS2, &tio) != 0) {
        SLOG_ERROR("serial port %s: reading line settings failed: %s", name.c_str(),
                   std::strerror(errno));
        return false;
    }
    unsigned int code = BOTHER;
    for (const StandardRate& rate : kStandardRates) {
        if (rate.baud == baud) code = rate.code;
    }
    // Raw 8N1: no parity, no flow control, no special characters, no output processing.
    // CREAD and CLOCAL let the line receive without modem-control lines.
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cflag = code | CS8 | CREAD | CLOCAL;
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    std::memset(tio.c_cc, 0, sizeof(tio.c_cc));
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    struct termios2 applied;
    std::memset(&applied, 0, sizeof(applied));
    if (::ioctl(fd, TCSETS2, &tio) != 0 || ::ioctl(fd, TCGETS2, &applied) != 0) {
        SLOG_ERROR("serial port %s: line speed %u baud is not supported: %s", name.c_str(), baud,
                   std::strerror(errno));
        return false;
    }
    const uint64_t deviation = static_cast<uint64_t>(
        std::llabs(static_cast<long long>(applied.c_ospeed) - static_cast<long long>(baud)));
    if (deviation * 1000 > static_cast<uint64_t>(baud) * kRateTolerancePerMille) {
        SLOG_ERROR("serial port %s: line speed %u baud is not supported (driver set %u)",
                   name.c_str(), baud, applied.c_ospeed);
        return false;
    }
    return true;
}

void SerialPort::Close() {
    if (fd_.exchange(-1) < 0) return;
    // Exclusivity outlives the descriptor on some ttys; drop it so the port can be opened again.
    ::ioctl(tty_.get(), TIOCNXCL);
    tty_.reset();
}

SerialPort::WaitResult SerialPort::WaitReadable(int timeout_ms) {
    struct pollfd entry = {fd_.load(), POLLIN, 0};
    if (entry.fd < 0) return WaitResult::kGone;
    const int ready = ::poll(&entry, 1, timeout_ms);
    if (ready < 0) return errno == EINTR ? WaitResult::kTimeout : WaitResult::kGone;
    if (ready == 0) return WaitResult::kTimeout;
    if (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) return WaitResult::kGone;
    return WaitResult::kReadable;
}

long SerialPort::Read(uint8_t* buffer, size_t size) {
    const long got = ::read(fd_.load(), buffer, size);
    if (got >= 0) return got;
    return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
}

int32_t SerialPort::Write(const uint8_t* data, size_t size, int timeout_ms) {
    const int fd = fd_.load();
    if (fd < 0) return -1;
    return WriteWithin(fd, data, size, timeout_ms);
}

bool SerialPort::DiscardInput() {
    const int fd = fd_.load();
    return fd >= 0 && ::ioctl(fd, TCFLSH, TCIFLUSH) == 0;
}

}  // namespace lidar
}  // namespace krell
