// BaseModal: one kind of input data of a model (a point cloud), holding named data buffers and
// named integer attributes. The buffers are shared with whoever made them (usually an engine);
// the modal object only references them. One thread builds and uses a modal object.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "module/common/parameter.h"

namespace krell::det {

class Buffer;

class BaseModal {
public:
    //! name is the parameter's "name" (empty when it has none).
    explicit BaseModal(const BaseModalParameter& parameter);
    virtual ~BaseModal() = default;

    //! Stores buffer under name; an existing name logs and keeps the first buffer.
    void addData(const std::string& name, std::shared_ptr<Buffer> buffer);
    //! The buffer stored under name; a missing name logs, then throws std::out_of_range.
    const std::shared_ptr<Buffer>& data(const std::string& name) const;
    //! True when a buffer is stored under name (no message).
    bool containData(const std::string& name) const;

    //! Stores an attribute; an existing name logs and keeps the first value.
    void addAttr(const std::string& name, int32_t value);
    void addAttr(const std::string& name, int64_t value);
    //! The attribute of that width; a missing name logs, then throws std::out_of_range.
    template <typename T>
    T attr(const std::string& name) const;

    const std::string& name() const { return name_; }
    const BaseModalParameter& parameter() const { return parameter_; }

protected:
    //! parameter.get(key) as a 32-bit unsigned value (the JSON library's errors pass through).
    uint32_t readAttr(const std::string& key) const;

private:
    std::string name_;
    BaseModalParameter parameter_;
    std::unordered_map<std::string, std::shared_ptr<Buffer>> data_;
    std::unordered_map<std::string, int32_t> attrs32_;
    std::unordered_map<std::string, int64_t> attrs64_;
};

template <>
int32_t BaseModal::attr<int32_t>(const std::string& name) const;
template <>
int64_t BaseModal::attr<int64_t>(const std::string& name) const;

}  // namespace krell::det
