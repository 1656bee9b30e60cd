import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "."

// Modal message box centred on its parent. With `rejectText` set it is a confirmation: the
// accept button (`acceptText`) emits accepted(), the other one or Escape emits rejected().
Popup {
    id: box
    property string title: "Message"
    property string text: ""
    property color accentColor: Theme.accent
    property string acceptText: "OK"
    property string rejectText: ""
    signal accepted
    signal rejected

    function show(message) {
        text = message;
        open();
    }

    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    width: 480
    x: parent ? Math.round((parent.width - width) / 2) : 0
    y: parent ? Math.round((parent.height - height) / 2) : 0
    padding: 20
    // Escape and the reject button both close without accepting.
    property bool acceptedNow: false
    onAboutToShow: acceptedNow = false
    onClosed: if (rejectText !== "" && !acceptedNow)
        rejected()
    background: Rectangle {
        radius: 6
        color: Theme.dark
        border.width: 1
        border.color: box.accentColor
    }
    contentItem: ColumnLayout {
        spacing: 14
        Text {
            text: box.title
            color: box.accentColor
            font.pixelSize: Theme.headingSize
            font.bold: true
        }
        Text {
            objectName: "messageText"
            Layout.fillWidth: true
            text: box.text
            color: Theme.text
            font.pixelSize: Theme.fontSize
            wrapMode: Text.Wrap
            textFormat: Text.PlainText
        }
        RowLayout {
            Layout.alignment: Qt.AlignRight
            spacing: Theme.spacing
            DefaultToolButton {
                objectName: "rejectButton"
                visible: box.rejectText !== ""
                text: box.rejectText
                onClicked: box.close()
            }
            DefaultToolButton {
                objectName: "acceptButton"
                primary: true
                text: box.acceptText
                onClicked: {
                    box.acceptedNow = true;
                    box.close();
                    box.accepted();
                }
            }
        }
    }
}
