#include "module/common/data_structure/point_cloud_size.h"

#include "module/common/log.h"

namespace krell::det {

int64_t pointCloudProduct(const std::string& cloud, const char* what,
                          std::initializer_list<uint32_t> values, int64_t factor, int64_t limit) {
    int64_t product = factor;
    for (const uint32_t value : values) {
        product *= value;
        if (product > limit) {
            DET_LOG(kLogError) << "[BaseModal] " << what << " of " << cloud << " exceeds " << limit
                               << ", it is set to 0" << kLogReset;
            return 0;
        }
    }
    return product;
}

}  // namespace krell::det
