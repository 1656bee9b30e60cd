#pragma once
// PageModel: the lists the QML pages are generated from, built from the current table on every
// read (level1List, level2List, myMap, logRepeaterModel, FovList). Hidden switch companions are
// left out of the shown rows. Thread: the UI thread.

#include <QVariantList>

#include <string>

#include "DeviceBenchCore/manager/reporter.h"

class ConfigParser;
class DeviceSession;

class PageModel {
public:
    //! Both are borrowed and must outlive the model. A switch element without a companion (a
    //! table error the pages must show) is reported as an "ERROR" line.
    PageModel(DeviceSession& session, Reporter& reporter);

    //! Element 0 of every page row; empty without a table or for serial models.
    QVariantList Level1List() const;
    //! Per page: a heading row [name, 0] per section, then [label, type, l1, l2, index] rows.
    QVariantList Level2List() const;
    //! Per page, per section, per shown variable: a map of its fields.
    QVariantList MyMap() const;
    //! Names of the unplaced variables that have a get or set command.
    QVariantList LogRepeaterModel() const;
    //! The ten field-of-view values, one decimal each.
    QVariantList FovList() const;

private:
    //! The table when the pages are shown (a TCP model with a table), else null.
    const ConfigParser* Shown(const ConfigParser* table) const;

    DeviceSession& session_;
    Reporter& reporter_;
};
