import QtQuick 2.15
import "."

// The error window: shows the manager's errorMessage and the pages' own refusals.
MessageWindow {
    title: "Error"
    accentColor: Theme.error
}
