#pragma once
// ConnectType: the names of the manager's `connectType` values, as the pages see them
// (ConnectType.Network, ...). The numbers are the manager's; this only names them.

#include <QObject>

class ConnectType {
    Q_GADGET
public:
    enum Kind {
        Network = 0,        //!< CMX over TCP/TLS; the table-driven tabs
        SerialLines = 1,    //!< two serial ports (RS-485 and UART); the Minka page
        SerialOverCmx = 2,  //!< serial commands tunnelled through CMX; the Minka page
    };
    Q_ENUM(Kind)
};
