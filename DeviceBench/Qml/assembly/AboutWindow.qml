import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "."

// Program name and version.
Popup {
    id: about
    modal: true
    focus: true
    width: 380
    x: parent ? Math.round((parent.width - width) / 2) : 0
    y: parent ? Math.round((parent.height - height) / 2) : 0
    padding: 24
    background: Rectangle {
        radius: 6
        color: Theme.dark
        border.color: Theme.midlight
    }
    contentItem: ColumnLayout {
        spacing: 12
        Image {
            Layout.alignment: Qt.AlignHCenter
            source: installRoot + "png/DeviceBench-LOGO-trans.svg"
            sourceSize.width: 96
            sourceSize.height: 96
        }
        Text {
            Layout.alignment: Qt.AlignHCenter
            text: "DeviceBench"
            color: Theme.text
            font.pixelSize: 20
            font.bold: true
        }
        Text {
            objectName: "versionText"
            Layout.alignment: Qt.AlignHCenter
            text: "V3.0.37"
            color: Theme.dimText
            font.pixelSize: Theme.fontSize
        }
        DefaultToolButton {
            Layout.alignment: Qt.AlignHCenter
            text: "Close"
            onClicked: about.close()
        }
    }
}
