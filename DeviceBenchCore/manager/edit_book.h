#pragma once
// EditBook: the pending edits of the pages: which set commands wait to be written (the set map)
// and which elements the user changed since the last write. Guards its own lock; any thread.

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct VarInfo;

class EditBook {
public:
    //! The user changed `var`: its set command waits to be written and the element is marked.
    //! `shown_before` is what it showed until then; the first edit's is kept, so that the page
    //! can say what a Save will change (the sensor's value against the staged one).
    void RecordEdit(const VarInfo& var, const std::string& shown_before = std::string());
    //! `command` waits to be written (an edit that is not one element, the field of view).
    void MarkPending(const std::string& command);
    //! The set commands pending for `page_vars` (in the order their first variable comes),
    //! each taken off the pending list; they stay in the set map until Clear.
    std::vector<std::string> TakePending(const std::vector<VarInfo*>& page_vars);
    //! After a save that stopped: `commands` wait again, and of the changed elements only
    //! those carried by them (`members`) stay marked.
    void Requeue(const std::vector<std::string>& commands,
                 const std::vector<const VarInfo*>& members);
    //! True when the user changed `var` since the last write.
    bool IsChanged(const VarInfo* var) const;
    //! The changed ones of `members`, each name followed by ", ".
    std::string ChangedNames(const std::vector<VarInfo*>& members) const;
    //! The changed ones of `members`, in their order, each with what it showed before its
    //! first edit.
    std::vector<std::pair<const VarInfo*, std::string>> Changes(
        const std::vector<const VarInfo*>& members) const;
    //! Forgets every edit.
    void Clear();
    //! Number of set commands in the set map (written ones included).
    int Size() const;

private:
    mutable std::mutex mutex_;             // guards the two maps
    std::map<std::string, bool> set_map_;  // set command text -> pending
    std::map<const VarInfo*, std::string> changed_;  // element -> shown before its first edit
};
