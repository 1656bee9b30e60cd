import QtQuick 2.15
import QtQuick.Controls 2.15
import "."

// Busy overlay: covers its parent, swallows input and names the operation that runs.
Rectangle {
    id: overlay
    property bool running: false
    property string text: ""
    visible: running
    color: "#B0000000"
    MouseArea {
        anchors.fill: parent
        hoverEnabled: true
        acceptedButtons: Qt.AllButtons
        onWheel: wheel.accepted = true
    }
    Rectangle {
        anchors.centerIn: parent
        width: Math.max(260, busyText.implicitWidth + 48)
        height: 130
        radius: 6
        color: Theme.dark
        border.color: Theme.midlight
        Column {
            anchors.centerIn: parent
            spacing: 12
            BusyIndicator {
                anchors.horizontalCenter: parent.horizontalCenter
                running: overlay.running
                width: 48
                height: 48
            }
            Text {
                id: busyText
                anchors.horizontalCenter: parent.horizontalCenter
                text: overlay.text
                color: Theme.text
                font.pixelSize: Theme.fontSize
            }
        }
    }
}
