#pragma once
// RangeCheck: the checks run before a save. The single-variable check scales by the set
// coefficient and needs both bounds; the page check compares integers without the coefficient
// as soon as one bound is set, and checks IP and MAC texts. Thread: the UI thread; takes the
// session's data_mutex.

#include <functional>
#include <string>

#include "DeviceBenchCore/manager/reporter.h"

class DeviceSession;
struct VarInfo;

class RangeCheck {
public:
    //! Both are borrowed and must outlive the checker.
    RangeCheck(DeviceSession& session, Reporter& reporter);

    //! The variable found by `text` (search type as the manager's searchVarPtr) is within its
    //! range; true when it cannot be found or is a string.
    bool VarWithinRange(const std::string& text, const std::string& search_type);
    //! Every editable variable of page `module` passes; each failure is logged and announced
    //! through `out_of_range` (called with the variable's name).
    bool PageWithinRange(int module, const std::function<void(const std::string&)>& out_of_range);

    //! The variable by "var_name"/"name" (first in id order) or "id"/"var_id"; null otherwise.
    //! The caller holds data_mutex.
    static VarInfo* Search(DeviceSession& session, const std::string& text,
                           const std::string& search_type);

private:
    //! The failure text of `var` (" is out of range" ...) or empty when it passes. Throws the
    //! standard conversion errors for a number that does not convert.
    static std::string Failure(const VarInfo& var, const VarInfo* companion);

    DeviceSession& session_;
    Reporter& reporter_;
};
