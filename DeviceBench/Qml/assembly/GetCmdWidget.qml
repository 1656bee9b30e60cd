import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "."

// The "Send CMX Command" tab: a command code and payload, the raw reply and the recent history.
Item {
    id: page
    // The DeviceBenchManager this component works on; set by whoever creates it.
    property var manager: null
    signal refused(string message)

    function send() {
        if (!page.manager.IsConnected) {
            refused("Please connect to lidar first");
            return;
        }
        if (commandField.text.trim() === "") {
            refused("Please enter a CMX command code");
            return;
        }
        page.manager.SendCommand(commandField.text.trim(), payloadField.text);
    }

    ColumnLayout {
        x: Theme.margin
        y: Theme.margin
        width: Math.min(page.width - 2 * Theme.margin, 1100)
        height: page.height - 2 * Theme.margin
        spacing: Theme.spacing

        Text {
            text: "Command"
            color: Theme.text
            font.pixelSize: Theme.headingSize
            font.bold: true
        }
        Rectangle {
            Layout.fillWidth: true
            height: 1
            color: Theme.midlight
        }
        RowLayout {
            Layout.fillWidth: true
            spacing: Theme.spacing
            Text {
                text: "Command:"
                color: Theme.text
                font.pixelSize: Theme.fontSize
            }
            DefaultTextField {
                id: commandField
                objectName: "commandField"
                Layout.preferredWidth: 110
                placeholderText: "0x07"
                onAccepted: page.send()
            }
            Text {
                Layout.leftMargin: Theme.spacing
                text: "Payload:"
                color: Theme.text
                font.pixelSize: Theme.fontSize
            }
            DefaultTextField {
                id: payloadField
                objectName: "payloadField"
                Layout.fillWidth: true
                placeholderText: "hex bytes separated by blanks, e.g. 01 02 0a"
                onAccepted: page.send()
            }
            DefaultToolButton {
                objectName: "sendButton"
                text: "Send"
                primary: true
                onClicked: page.send()
            }
        }
        GridLayout {
            Layout.fillWidth: true
            columns: 2
            columnSpacing: Theme.spacing
            rowSpacing: Theme.spacing
            Text {
                text: "Return Header:"
                color: Theme.text
                font.pixelSize: Theme.fontSize
            }
            DefaultTextField {
                objectName: "returnHeader"
                Layout.fillWidth: true
                readOnly: true
                text: page.manager.SendCmxCommandReturnHeader
            }
            Text {
                Layout.alignment: Qt.AlignTop
                Layout.topMargin: 6
                text: "Return Payload:"
                color: Theme.text
                font.pixelSize: Theme.fontSize
            }
            ScrollView {
                Layout.fillWidth: true
                Layout.preferredHeight: 110
                clip: true
                TextArea {
                    objectName: "returnPayload"
                    readOnly: true
                    selectByMouse: true
                    wrapMode: TextEdit.WrapAnywhere
                    text: page.manager.SendCmxCommandReturnPayload
                    color: Theme.text
                    font.family: "monospace"
                    font.pixelSize: 12
                    background: Rectangle {
                        radius: Theme.radius
                        color: Theme.dark
                        border.color: Theme.midlight
                    }
                }
            }
        }
        Text {
            Layout.topMargin: Theme.spacing
            text: "Command Log (" + page.manager.CommandLogCnt + ")"
            color: Theme.text
            font.pixelSize: Theme.headingSize
            font.bold: true
        }
        Rectangle {
            Layout.fillWidth: true
            Layout.fillHeight: true
            color: Theme.base
            border.color: Theme.midlight
            radius: Theme.radius
            ColumnLayout {
                anchors.fill: parent
                anchors.margins: 1
                spacing: 0
                Rectangle {
                    Layout.fillWidth: true
                    height: 28
                    color: Theme.button
                    Row {
                        anchors.fill: parent
                        anchors.leftMargin: 8
                        Repeater {
                            model: [["Time", 190], ["Command", 110], ["Payload", 600]]
                            Text {
                                width: modelData[1]
                                height: 28
                                verticalAlignment: Text.AlignVCenter
                                text: modelData[0]
                                color: Theme.text
                                font.pixelSize: Theme.fontSize
                                font.bold: true
                            }
                        }
                    }
                }
                ListView {
                    objectName: "commandLog"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    clip: true
                    model: page.manager.SendCommandHistory
                    ScrollBar.vertical: ScrollBar {}
                    delegate: Rectangle {
                        width: ListView.view.width
                        height: 26
                        color: index % 2 ? Theme.dark : Theme.base
                        Row {
                            anchors.fill: parent
                            anchors.leftMargin: 8
                            Text {
                                width: 190
                                height: 26
                                verticalAlignment: Text.AlignVCenter
                                text: modelData.record_time
                                color: Theme.dimText
                                font.pixelSize: 12
                            }
                            Text {
                                width: 110
                                height: 26
                                verticalAlignment: Text.AlignVCenter
                                text: modelData.send_cmd_history
                                color: Theme.text
                                font.family: "monospace"
                                font.pixelSize: 12
                            }
                            Text {
                                width: parent.width - 300
                                height: 26
                                verticalAlignment: Text.AlignVCenter
                                text: modelData.send_payload_history
                                color: Theme.text
                                elide: Text.ElideRight
                                font.family: "monospace"
                                font.pixelSize: 12
                            }
                        }
                    }
                }
            }
        }
    }
}
