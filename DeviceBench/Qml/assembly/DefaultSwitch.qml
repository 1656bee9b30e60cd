import QtQuick 2.15
import QtQuick.Controls 2.15
import "."

// On/off switch: accent track when on, grey when off, dimmed when disabled.
Switch {
    id: control
    implicitHeight: Theme.rowHeight
    font.pixelSize: Theme.fontSize
    opacity: enabled ? 1.0 : Theme.disabledOpacity
    indicator: Rectangle {
        implicitWidth: 42
        implicitHeight: 22
        x: control.leftPadding
        y: (control.height - height) / 2
        radius: height / 2
        color: control.checked ? Theme.accent : Theme.button
        border.color: control.checked ? Theme.accent : Theme.light
        Rectangle {
            width: 18
            height: 18
            radius: 9
            y: 2
            x: control.checked ? parent.width - width - 2 : 2
            color: Theme.text
            Behavior on x {
                NumberAnimation {
                    duration: 120
                }
            }
        }
    }
    contentItem: Text {
        leftPadding: control.indicator.width + 8
        text: control.text
        font: control.font
        color: Theme.text
        verticalAlignment: Text.AlignVCenter
    }
}
