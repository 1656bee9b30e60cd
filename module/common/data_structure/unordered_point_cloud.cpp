#include "module/common/data_structure/unordered_point_cloud.h"

#include <memory>

#include "module/common/data_structure/modal_factory.h"
#include "module/common/data_structure/point_cloud_size.h"

namespace krell::det {

namespace {
constexpr int64_t kElementBytes = 4;
}  // namespace

const bool UnorderedPointCloud::registered_ = ModalFactory::instance().registerClass(
    "UnorderedPointCloud", [](const BaseModalParameter& parameter) -> std::shared_ptr<BaseModal> {
        return std::make_shared<UnorderedPointCloud>(parameter);
    });

UnorderedPointCloud::UnorderedPointCloud(const BaseModalParameter& parameter)
    : BaseModal(parameter) {
    const uint32_t batchSize = readAttr("batch_size");
    const uint32_t pointNum = readAttr("point_num");
    const uint32_t channel = readAttr("channel");
    addAttr("batch_size", static_cast<int32_t>(batchSize));
    addAttr("point_num", static_cast<int32_t>(pointNum));
    addAttr("channel", static_cast<int32_t>(channel));
    addAttr("byte_size", pointCloudProduct(name(), "byte_size", {batchSize, pointNum, channel},
                                           kElementBytes, kMaxByteSize));
}

}  // namespace krell::det
