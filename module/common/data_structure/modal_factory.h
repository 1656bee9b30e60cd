// ModalFactory: the process-wide registry of modal classes by class name. The point-cloud
// classes register themselves during static initialisation (the library is linked whole, see
// module/common/CMakeLists.txt). Register during start-up; create from one thread afterwards.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "module/common/data_structure/base_modal.h"

namespace krell::det {

class ModalFactory {
public:
    using Creator = std::function<std::shared_ptr<BaseModal>(const BaseModalParameter&)>;

    //! The one registry of the process.
    static ModalFactory& instance();

    //! Adds creator under name. An existing name logs and keeps the first; returns whether
    //! creator was added.
    bool registerClass(const std::string& name, Creator creator);
    //! A new object of the class named by the parameter's "type". An unknown class logs, then
    //! throws std::out_of_range; the JSON library's errors pass through.
    std::shared_ptr<BaseModal> create(const BaseModalParameter& parameter) const;
    //! Whether a class is registered under name.
    bool contains(const std::string& name) const { return creators_.count(name) > 0; }

private:
    ModalFactory() = default;

    std::unordered_map<std::string, Creator> creators_;
};

}  // namespace krell::det
