#pragma once
// UpgradeRig: a CmxClient on loopback against the virtual sensor with its serial tunnel and its
// firmware side, the client's byte-flow lines collected, and short upgrade time-outs so that a
// silent sensor costs a test one second, not a minute.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "libkrell/CmxClient/cmx_client.h"
#include "tests/support/running_sim.h"
#include "tools/lidar-sim/firmware_sink.h"
#include "tools/lidar-sim/serial_side.h"

namespace krell {
namespace test {

class UpgradeRig : public ::testing::Test {
protected:
    static constexpr uint32_t kConfiguredTimeoutMs = 250;
    static constexpr uint32_t kUpgradeTimeoutMs = 1500;

    void SetUp() override {
        ASSERT_TRUE(sim_.Ok());
        ASSERT_TRUE(side_.Start(sim_.Device(), lidar::sim::SerialSideOptions{}));
        sink_->Install(sim_.Device());
        client_ = std::make_unique<lidar::CmxClient>("127.0.0.1", sim_.Port(), false, 0, 1, "", "",
                                                     "", kConfiguredTimeoutMs,
                                                     kConfiguredTimeoutMs, 2.0f);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (!client_->IsOpen() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(client_->IsOpen());
        client_->SetUpgradeTimings(kUpgradeTimeoutMs, kUpgradeTimeoutMs, 0);
        client_->SetByteFlowCallback([this](const std::string& line) {
            if (line.rfind("SEND: ", 0) != 0 && line.rfind("RECV: ", 0) != 0) texts_.push_back(line);
        });
    }

    //! An image whose bytes differ from frame to frame and within each frame.
    static std::vector<uint8_t> Image(size_t size) {
        std::vector<uint8_t> image(size);
        for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 31 + i / 1024 + 7);
        return image;
    }

    //! True when one collected text contains every part.
    bool SaidAll(const std::vector<std::string>& parts) const {
        for (const std::string& text : texts_) {
            bool all = true;
            for (const std::string& part : parts) all = all && text.find(part) != std::string::npos;
            if (all) return true;
        }
        return false;
    }

    RunningSim sim_;
    lidar::sim::SerialSide side_;
    std::shared_ptr<lidar::sim::FirmwareSink> sink_ = std::make_shared<lidar::sim::FirmwareSink>();
    std::unique_ptr<lidar::CmxClient> client_;
    std::vector<std::string> texts_;  // byte-flow texts other than SEND/RECV lines
    std::atomic<int32_t> progress_{0};
};

//! The virtual sensor's upgrade faults, one switch each.
namespace upgrade_fault {

inline lidar::sim::UpgradeFaults Refuse(uint32_t frame, uint8_t reply_type = 7,
                                        uint8_t status = 3) {
    lidar::sim::UpgradeFaults faults;
    faults.refuse_frame = frame;
    faults.refuse_reply_type = reply_type;
    faults.refuse_status = status;
    return faults;
}
inline lidar::sim::UpgradeFaults Silent(uint32_t after) {
    lidar::sim::UpgradeFaults faults;
    faults.silent_after = after;
    return faults;
}
inline lidar::sim::UpgradeFaults Drop(uint32_t after) {
    lidar::sim::UpgradeFaults faults;
    faults.drop_after = after;
    return faults;
}
inline lidar::sim::UpgradeFaults Corrupt(uint32_t frame) {
    lidar::sim::UpgradeFaults faults;
    faults.corrupt_ack = frame;
    return faults;
}

}  // namespace upgrade_fault

}  // namespace test
}  // namespace krell
