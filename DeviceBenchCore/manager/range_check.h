#pragma once
// RangeCheck: the checks run before a save. The single-variable check scales by the set
// coefficient and needs both bounds; the page check compares integers without the coefficient
// as soon as one bound is set, and checks IP and MAC texts. Thread: the UI thread.

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
    //! (kVarOutOfRange with the variable's name).
    bool PageWithinRange(int module);

private:
    //! The failure text of `var` (" is out of range" ...) or empty when it passes. Throws the
    //! standard conversion errors for a number that does not convert.
    std::string Failure(const VarInfo& var) const;

    DeviceSession& session_;
    Reporter& reporter_;
};
