#pragma once
// What a Save of one page would change: each element the user edited since the last write, with
// the value the page showed before the first edit (the sensor's, as last read) and the staged one.

#include <string>
#include <vector>

class ActiveTable;
class EditBook;

struct PendingChange {
    std::string name;    //!< the element's name as the page shows it
    std::string saved;   //!< shown before the first edit
    std::string staged;  //!< what Save would write
};

//! The pending changes of page `module`, in the page's order; empty for an unknown page.
std::vector<PendingChange> PendingChangesOfPage(const ActiveTable& table, const EditBook& edits,
                                                int module);
