#pragma once
// PageModel: the lists the QML pages are generated from, built from the current table on every
// read (level1List, level2List, myMap, logRepeaterModel, FovList). Hidden switch companions are
// left out of the shown rows. Thread: the UI thread; takes the session's data_mutex.

#include <QVariantList>

#include <functional>
#include <string>

class DeviceSession;

class PageModel {
public:
    //! Called for a switch element without a companion (a table error the pages must show).
    using ErrorLine = std::function<void(const std::string&)>;

    //! `session` is borrowed and must outlive the model.
    explicit PageModel(DeviceSession& session);

    //! Element 0 of every page row; empty without a table or for serial models.
    QVariantList Level1List() const;
    //! Per page: a heading row [name, 0] per section, then [label, type, l1, l2, index] rows.
    QVariantList Level2List() const;
    //! Per page, per section, per shown variable: a map of its fields.
    QVariantList MyMap(const ErrorLine& error) const;
    //! Names of the unplaced variables that have a get or set command.
    QVariantList LogRepeaterModel() const;
    //! The ten field-of-view values, one decimal each.
    QVariantList FovList() const;
    //! `timer_update` of element [i][j][k]; false for bad indices, no table or a serial model.
    bool IsTimerUpdate(int i, int j, int k) const;

private:
    bool PagesShown() const;

    DeviceSession& session_;
};
