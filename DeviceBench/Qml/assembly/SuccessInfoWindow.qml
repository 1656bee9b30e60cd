import QtQuick 2.15
import "."

// The success window: shows the manager's successMessage.
MessageWindow {
    title: "Success"
    accentColor: Theme.success
}
