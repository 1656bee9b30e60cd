#include "module/common/data_structure/quanted_point_cloud.h"

#include <memory>

#include "module/common/data_structure/modal_factory.h"
#include "module/common/data_structure/point_cloud_size.h"

namespace krell::det {

namespace {
constexpr int64_t kElementBytes = 1;
}  // namespace

const bool QuantedPointCloud::registered_ = ModalFactory::instance().registerClass(
    "QuantedPointCloud", [](const BaseModalParameter& parameter) -> std::shared_ptr<BaseModal> {
        return std::make_shared<QuantedPointCloud>(parameter);
    });

QuantedPointCloud::QuantedPointCloud(const BaseModalParameter& parameter) : BaseModal(parameter) {
    const uint32_t batchSize = readAttr("batch_size");
    const uint32_t height = readAttr("rimg_h");
    const uint32_t width = readAttr("rimg_w");
    const uint32_t channel = readAttr("channel");
    addAttr("batch_size", static_cast<int32_t>(batchSize));
    addAttr("rimg_h", static_cast<int32_t>(height));
    addAttr("rimg_w", static_cast<int32_t>(width));
    addAttr("channel", static_cast<int32_t>(channel));
    const int64_t pointNum =
        pointCloudProduct(name(), "point_num", {height, width}, 1, kMaxPointNum);
    addAttr("point_num", static_cast<int32_t>(pointNum));
    addAttr("byte_size", pointCloudProduct(name(), "byte_size", {batchSize, height, width, channel},
                                           kElementBytes, kMaxByteSize));
}

}  // namespace krell::det
