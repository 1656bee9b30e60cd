#include "module/common/data_structure/data_type.h"

#include "module/common/log.h"

namespace krell::det {

int32_t getDataType(const std::string& name) {
    if (name == "int8") {
        return kDataTypeInt8;
    }
    if (name == "uint8") {
        return kDataTypeUInt8;
    }
    if (name == "float16") {
        return kDataTypeFloat16;
    }
    if (name == "float32") {
        return kDataTypeFloat32;
    }
    DET_LOG(kLogError) << "[getDataType] Wrong data type of " << name
                       << ", please use int8, float16, float32 " << kLogReset;
    return kDataTypeUnknown;
}

}  // namespace krell::det
