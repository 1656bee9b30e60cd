import QtQuick 2.15
import QtQuick.Controls 2.15
import "."

// Drop-down list in the pages' look; `fallbackText` is shown when no entry matches the value.
ComboBox {
    id: control
    property string fallbackText: ""
    implicitWidth: Theme.editorWidth
    implicitHeight: Theme.rowHeight
    font.pixelSize: Theme.fontSize
    opacity: enabled ? 1.0 : Theme.disabledOpacity
    displayText: currentIndex < 0 ? fallbackText : currentText
    contentItem: Text {
        leftPadding: 8
        rightPadding: control.indicator.width + 4
        text: control.displayText
        font: control.font
        color: Theme.text
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }
    background: Rectangle {
        radius: Theme.radius
        color: control.pressed ? Theme.midlight : Theme.button
        border.width: 1
        border.color: control.activeFocus ? Theme.accent : Theme.midlight
    }
}
