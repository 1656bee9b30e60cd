#pragma once
// OtaPackage: the Rusko firmware package ("OTPK"), a 56-byte header in front of up to five
// components (application A and B, the two FPGA images, the parameter block). The header is
// checked as a whole before anything reaches the sensor, so a package with a component past its
// end is refused before the line speeds and the mode change, not halfway through the upgrade.

#include <cstdint>
#include <string>
#include <vector>

class OtaPackage {
public:
    static constexpr size_t kHeaderBytes = 56;
    static constexpr int kComponentCount = 5;
    //! FPGA components start with this many header bytes that are not sent.
    static constexpr size_t kFpgaHeaderBytes = 1024;

    enum Component { kAppA = 0, kAppB = 1, kBmbFpga = 2, kTmbFpga = 3, kTmbParam = 4 };

    //! One component to send: its index, name, OTA frame type and data.
    struct Part {
        int index;
        std::string name;
        uint32_t type;
        std::vector<uint8_t> data;
    };

    //! Keeps `bytes`; nothing is checked yet.
    explicit OtaPackage(std::vector<uint8_t> bytes);

    //! At least the header.
    bool LongEnough() const { return bytes_.size() >= kHeaderBytes; }
    //! The magic is "OTPK". Requires LongEnough.
    bool MagicOk() const;
    uint8_t Flags() const;
    uint32_t TotalSize() const;
    bool Present(int index) const { return (Flags() >> index) & 1; }

    //! Name of every present component whose offset + size runs past the package (or past 32
    //! bits); empty when all lie inside.
    std::vector<std::string> OutOfRange() const;

    //! The components to send, in sending order: the application of the partition that is not
    //! running (`partition_a` true: B is sent), then the FPGA images and the parameters.
    std::vector<int> SendOrder(bool partition_a) const;
    //! The data of component `index`: empty when it lies out of range or is an FPGA image of no
    //! more than its header.
    std::vector<uint8_t> Extract(int index) const;

    static const char* Name(int index);
    static uint32_t FrameType(int index);

private:
    uint32_t U32At(size_t offset) const;
    bool InRange(int index) const;

    std::vector<uint8_t> bytes_;
};
