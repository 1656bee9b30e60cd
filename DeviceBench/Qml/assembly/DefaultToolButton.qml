import QtQuick 2.15
import QtQuick.Controls 2.15
import "."

// Push button of the pages. `primary` gives the accent fill for the one main action of an area;
// an optional icon comes from the install root's png/ folder.
ToolButton {
    id: control
    property bool primary: false
    property string iconFile: ""
    implicitHeight: Theme.rowHeight
    leftPadding: 14
    rightPadding: 14
    font.pixelSize: Theme.fontSize
    opacity: enabled ? 1.0 : Theme.disabledOpacity
    contentItem: Item {
        implicitWidth: content.implicitWidth
        implicitHeight: content.implicitHeight
        Row {
        id: content
        anchors.centerIn: parent
        spacing: 6
        Image {
            visible: control.iconFile !== ""
            source: control.iconFile === "" ? "" : installRoot + "png/" + control.iconFile
            width: 18
            height: 18
            sourceSize.width: width
            sourceSize.height: height
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            visible: control.text !== ""
            text: control.text
            font: control.font
            color: Theme.text
            anchors.verticalCenter: parent.verticalCenter
        }
        }
    }
    background: Rectangle {
        implicitWidth: control.text === "" ? Theme.rowHeight : 90
        radius: Theme.radius
        color: {
            if (control.primary)
                return control.down ? Qt.darker(Theme.accent, 1.3) : Theme.accent;
            return control.down ? Theme.midlight : (control.hovered ? Theme.midlight : Theme.button);
        }
        border.width: 1
        border.color: control.visualFocus ? Theme.text : (control.primary ? Theme.accent : Theme.midlight)
    }
}
