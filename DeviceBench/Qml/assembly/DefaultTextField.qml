import QtQuick 2.15
import QtQuick.Controls 2.15
import "."

// The one text field of the pages: dark base, accent border while focused, dimmed when disabled
// and a darker fill when read-only, so editable values stand out.
TextField {
    id: control
    implicitWidth: Theme.editorWidth
    implicitHeight: Theme.rowHeight
    leftPadding: 8
    rightPadding: 8
    topPadding: 0
    bottomPadding: 0
    verticalAlignment: TextInput.AlignVCenter
    font.pixelSize: Theme.fontSize
    color: Theme.text
    selectByMouse: true
    selectionColor: Theme.accent
    selectedTextColor: Theme.text
    placeholderTextColor: Theme.light
    opacity: enabled ? 1.0 : Theme.disabledOpacity
    background: Rectangle {
        radius: Theme.radius
        color: control.readOnly ? Theme.dark : Theme.base
        border.width: 1
        border.color: control.activeFocus && !control.readOnly ? Theme.accent : Theme.midlight
    }
}
