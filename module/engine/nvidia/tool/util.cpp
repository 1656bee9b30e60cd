#include "module/engine/nvidia/tool/util.h"

#include "module/common/log.h"

namespace krell::det {

nvinfer1::DataType getTRTType(const std::string& name) {
    if (name == "int8") {
        return nvinfer1::DataType::kINT8;
    }
    if (name == "float16") {
        return nvinfer1::DataType::kHALF;
    }
    if (name == "float32") {
        return nvinfer1::DataType::kFLOAT;
    }
    DET_LOG(kLogError) << "[Parameters] Tensor type " << name
                       << " is wrong, please use int8, float16 or float32" << kLogReset;
    return nvinfer1::DataType::kFLOAT;
}

int32_t getTypeSize(nvinfer1::DataType type) {
    switch (type) {
        case nvinfer1::DataType::kFLOAT:
        case nvinfer1::DataType::kINT32:
            return 4;
        case nvinfer1::DataType::kHALF:
            return 2;
        case nvinfer1::DataType::kINT8:
            return 1;
        default:
            return 0;
    }
}

}  // namespace krell::det
