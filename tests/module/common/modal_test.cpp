#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "module/common/data_structure/modal_factory.h"
#include "module/common/data_structure/quanted_point_cloud.h"
#include "module/engine/cpu_buffer.h"
#include "tests/module/stdout_capture.h"

namespace krell::det::test {

namespace {

BaseModalParameter cloudParameter(const std::string& type, uint32_t height, uint32_t width) {
    return BaseModalParameter("point_cloud", ParamJson{{"name", "point_cloud"},
                                                       {"type", type},
                                                       {"batch_size", 1},
                                                       {"rimg_h", height},
                                                       {"rimg_w", width},
                                                       {"point_num", 100},
                                                       {"channel", 4}});
}

}  // namespace

TEST(PointClouds, Attributes_FollowTheCloudKind) {
    const auto quanted =
        ModalFactory::instance().create(cloudParameter("QuantedPointCloud", 32, 1280));
    EXPECT_EQ(quanted->name(), "point_cloud");
    EXPECT_EQ(quanted->attr<int32_t>("point_num"), 40960);
    EXPECT_EQ(quanted->attr<int64_t>("byte_size"), 163840);
    EXPECT_EQ(quanted->attr<int32_t>("channel"), 4);
    const auto ordered =
        ModalFactory::instance().create(cloudParameter("OrderedPointCloud", 32, 1280));
    EXPECT_EQ(ordered->attr<int64_t>("byte_size"), 655360);
    const auto unordered =
        ModalFactory::instance().create(cloudParameter("UnorderedPointCloud", 1, 1));
    EXPECT_EQ(unordered->attr<int64_t>("byte_size"), 1600);
    EXPECT_THROW(captureStdout([&] { unordered->attr<int32_t>("byte_size"); }), std::out_of_range);
}

TEST(PointClouds, SizesBeyondTheirWidth_AreReportedInsteadOfWrapping) {
    std::shared_ptr<BaseModal> cloud;
    const std::string log = captureStdout([&] {
        cloud = ModalFactory::instance().create(cloudParameter("OrderedPointCloud", 65536, 65536));
    });
    EXPECT_NE(log.find("point_num of point_cloud exceeds"), std::string::npos) << log;
    EXPECT_NE(log.find("byte_size of point_cloud exceeds"), std::string::npos) << log;
    EXPECT_EQ(cloud->attr<int32_t>("point_num"), 0);
    EXPECT_EQ(cloud->attr<int64_t>("byte_size"), 0);
}

TEST(BaseModal, DataAndAttributes_KeepTheFirstAndReportMisses) {
    QuantedPointCloud cloud(cloudParameter("QuantedPointCloud", 2, 2));
    auto first = std::make_shared<CPUBuffer>(4);
    auto second = std::make_shared<CPUBuffer>(4);
    cloud.addData("quanted_points", first);
    EXPECT_EQ(messageOf(captureStdout([&] { cloud.addData("quanted_points", second); })),
              "[BaseModal][addData] item with name quanted_points already exists!\x1b[0m\n");
    EXPECT_EQ(cloud.data("quanted_points").get(), first.get());
    EXPECT_TRUE(cloud.containData("quanted_points"));
    EXPECT_FALSE(cloud.containData("last_frame_features"));
    EXPECT_EQ(messageOf(captureStdout(
                  [&] { EXPECT_THROW(cloud.data("last_frame_features"), std::out_of_range); })),
              "[BaseModal][data] can not find data item with name last_frame_features\x1b[0m\n");
    EXPECT_NE(captureStdout([&] { cloud.addAttr("point_num", int32_t{7}); }), "");
    EXPECT_EQ(cloud.attr<int32_t>("point_num"), 4);
}

TEST(ModalFactory, UnknownTypeAndRepeatedName_AreReported) {
    EXPECT_EQ(messageOf(captureStdout([&] {
                  EXPECT_THROW(ModalFactory::instance().create(cloudParameter("PointCloud", 1, 1)),
                               std::out_of_range);
              })),
              "[INIT][ModalFactory][create] Can not find operator with name PointCloud\x1b[0m\n");
    bool added = true;
    EXPECT_NE(captureStdout([&] {
                  added = ModalFactory::instance().registerClass(
                      "QuantedPointCloud", [](const BaseModalParameter&) { return nullptr; });
              }),
              "");
    EXPECT_FALSE(added);
    EXPECT_NE(ModalFactory::instance().create(cloudParameter("QuantedPointCloud", 1, 1)), nullptr);
}

}  // namespace krell::det::test
