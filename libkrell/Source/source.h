#pragma once
// Abstract packet source: a serial line or a UDP socket that hands out packets one at a time.

#include <cstdint>

#include "libkrell/Source/udp_packet.h"

namespace krell {
namespace lidar {

class Source {
public:
    Source() = default;
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    //! Logs "Source::Close()"; a derived class releases its own handles first.
    virtual ~Source();

    //! Opens the underlying device; false on failure. Called by the owning thread only.
    virtual bool Open() = 0;

    //! Releases the device; safe to call when already closed. The base only logs.
    virtual void Close();

    //! True while the device handle is valid. Any thread.
    virtual bool IsOpened() = 0;

    //! Writes `len` bytes; returns the count written or a negative error code.
    virtual int32_t Send(const uint8_t* data, uint16_t len, int32_t flags) = 0;

    //! Copies one received packet into `packet`; returns its length or a negative code.
    virtual int32_t Receive(UdpPacket& packet, uint16_t len, int32_t type, int32_t timeout_ms) = 0;

    //! Sets the receive buffer of a socket source; other sources ignore it.
    virtual void SetSocketBufferSize(int32_t size_bytes) = 0;

    //! Selects what a source receives; the base does nothing.
    virtual void SetReceiveType(int32_t type);

    //! Chooses whether the next Open() starts a receive thread; the base does nothing.
    virtual void SetReceiveThreadEnabled(bool enabled);
};

}  // namespace lidar
}  // namespace krell
