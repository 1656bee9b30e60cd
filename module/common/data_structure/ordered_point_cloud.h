// OrderedPointCloud: a point cloud input. Reads the attributes "batch_size", "rimg_h", "rimg_w", "channel" from its parameter and adds
// "point_num" = rimg_h x rimg_w; "byte_size" = batch_size x point_num x channel x 4.
#pragma once

#include "module/common/data_structure/base_modal.h"

namespace krell::det {

class OrderedPointCloud : public BaseModal {
public:
    //! Missing or non-numeric attributes raise the JSON library's errors.
    explicit OrderedPointCloud(const BaseModalParameter& parameter);

    //! True once the class is registered with ModalFactory (set during static initialisation).
    static bool registered() { return registered_; }

private:
    static const bool registered_;
};

}  // namespace krell::det
