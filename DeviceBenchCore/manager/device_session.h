#pragma once
// DeviceSession: what the manager's operations share, as three owners that each guard their
// own state: the Link (clients and connection flags), the ActiveTable (the selected table, its
// values and the field of view) and the EditBook (pending edits). One per manager; operations
// take it together with the Reporter and never take a lock themselves.
//
// Lock order, the one rule for the whole manager: the Link's exchange turn (HoldExchange) is
// taken first and held across a device conversation; every other lock is private to one owner,
// held only inside one of its methods, and no owner calls another while holding its own. So
// the only nesting is "exchange turn, then one owner's lock", and no cycle can form.

#include <string>

#include "DeviceBenchCore/manager/active_table.h"
#include "DeviceBenchCore/manager/edit_book.h"
#include "DeviceBenchCore/manager/link.h"

class DeviceSession {
public:
    explicit DeviceSession(std::string initial_table_path = std::string())
        : table(std::move(initial_table_path)) {}

    //! True when reads and writes may run: a table and a link ready for an exchange.
    bool ReadyForExchange() const { return table.HasTable() && link.ReadyForExchange(); }

    Link link;
    ActiveTable table;
    EditBook edits;
};
