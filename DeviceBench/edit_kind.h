#pragma once
// EditKind: the names of the first argument of the manager's SetText, as the pages see them
// (EditKind.Text, ...). The numbers are the manager's; this only names them.

#include <QObject>

class EditKind {
    Q_GADGET
public:
    enum Kind {
        Text = 1,    //!< a text field: the text is the new value
        Switch = 2,  //!< the switch of a row: "1" or "0" for its hidden companion variable
        Option = 3,  //!< a drop-down: the text is the decimal index of the chosen option
    };
    Q_ENUM(Kind)
};
