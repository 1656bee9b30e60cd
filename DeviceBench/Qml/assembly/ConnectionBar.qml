import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "."
import DeviceBench 1.0

// The connection fields of the model's kind (address and ports, or the two serial lines, and the
// line speed) with the Connect / Disconnect button. pushFields hands what was typed to the
// manager before a connection attempt.
Rectangle {
    id: bar
    // The DeviceBenchManager this component works on; set by whoever creates it.
    property var manager: null
    property int connectType: ConnectType.Network
    property string selectedModel: ""
    property bool connected: false
    signal connectRequested()

    function pushFields() {
        if (connectType === ConnectType.SerialLines) {
            manager.serial_port_485 = rs485Field.text;
            manager.serial_port_232 = uartField.text;
        } else {
            manager.ip_address = ipField.text;
            manager.port = portField.text;
        }
        if (connectType === ConnectType.SerialOverCmx) {
            if (/^[0-9]+$/.test(udpPortField.text))
                manager.udpPort = udpPortField.text;
        }
        if (connectType !== ConnectType.Network)
            manager.baud_rate = selectedModel === "Rusko-CMX" ? baudRateField.text : baudRateCombo.currentText;
    }

    Layout.fillWidth: true
    Layout.preferredHeight: 52
    color: Theme.window
    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: Theme.margin
        anchors.rightMargin: Theme.margin
        spacing: Theme.spacing
        Text {
            visible: bar.connectType !== ConnectType.SerialLines
            text: "IPv4 Address:"
            color: Theme.text
            font.pixelSize: Theme.fontSize
        }
        DefaultTextField {
            id: ipField
            objectName: "ipField"
            visible: bar.connectType !== ConnectType.SerialLines
            Layout.preferredWidth: 150
            enabled: !bar.connected
            text: bar.manager.ip_address
            onAccepted: bar.connectRequested()
        }
        Text {
            visible: bar.connectType !== ConnectType.SerialLines
            Layout.leftMargin: Theme.spacing
            text: "CMX/CMXS Port:"
            color: Theme.text
            font.pixelSize: Theme.fontSize
        }
        DefaultTextField {
            id: portField
            objectName: "portField"
            visible: bar.connectType !== ConnectType.SerialLines
            Layout.preferredWidth: 80
            enabled: !bar.connected
            validator: RegExpValidator {
                regExp: /[0-9]{0,5}/
            }
            text: bar.manager.port
            onAccepted: bar.connectRequested()
        }
        Text {
            visible: bar.connectType === ConnectType.SerialOverCmx
            Layout.leftMargin: Theme.spacing
            text: "Udp Port:"
            color: Theme.text
            font.pixelSize: Theme.fontSize
        }
        DefaultTextField {
            id: udpPortField
            objectName: "udpPortField"
            visible: bar.connectType === ConnectType.SerialOverCmx
            Layout.preferredWidth: 80
            enabled: !bar.connected
            validator: RegExpValidator {
                regExp: /[0-9]{0,5}/
            }
            text: bar.manager.udpPort
            onAccepted: bar.connectRequested()
        }
        Text {
            visible: bar.connectType === ConnectType.SerialLines
            text: "RS485 Serial Port:"
            color: Theme.text
            font.pixelSize: Theme.fontSize
        }
        DefaultTextField {
            id: rs485Field
            objectName: "rs485Field"
            visible: bar.connectType === ConnectType.SerialLines
            Layout.preferredWidth: 150
            enabled: !bar.connected
            text: bar.manager.serial_port_485
            onAccepted: bar.connectRequested()
        }
        Text {
            visible: bar.connectType === ConnectType.SerialLines
            Layout.leftMargin: Theme.spacing
            text: "UART Serial Port:"
            color: Theme.text
            font.pixelSize: Theme.fontSize
        }
        DefaultTextField {
            id: uartField
            objectName: "uartField"
            visible: bar.connectType === ConnectType.SerialLines
            Layout.preferredWidth: 150
            enabled: !bar.connected
            text: bar.manager.serial_port_232
            onAccepted: bar.connectRequested()
        }
        Text {
            visible: bar.connectType !== ConnectType.Network
            Layout.leftMargin: Theme.spacing
            text: "Baud Rate:"
            color: Theme.text
            font.pixelSize: Theme.fontSize
        }
        DefaultTextField {
            id: baudRateField
            objectName: "baudRateField"
            readonly property int lowest: 3000000
            readonly property int highest: 10000000
            visible: bar.connectType !== ConnectType.Network && bar.selectedModel === "Rusko-CMX"
            Layout.preferredWidth: 110
            enabled: !bar.connected
            text: "3000000"
            validator: RegExpValidator {
                regExp: /[0-9]{0,8}/
            }
            function corrected() {
                var value = parseInt(text, 10);
                if (isNaN(value) || value < lowest)
                    return String(lowest);
                return value > highest ? String(highest) : String(value);
            }
            onEditingFinished: text = corrected()
            onAccepted: bar.connectRequested()
            onVisibleChanged: if (visible)
                text = String(lowest)
        }
        DefaultComboBox {
            id: baudRateCombo
            objectName: "baudRateCombo"
            visible: bar.connectType !== ConnectType.Network && bar.selectedModel !== "Rusko-CMX"
            // Wide enough for seven digits beside the drop-down arrow.
            Layout.preferredWidth: 150
            enabled: !bar.connected
            model: ["3000000", "3125000"]
        }
        Item {
            Layout.fillWidth: true
        }
        DefaultToolButton {
            objectName: "connectButton"
            Layout.preferredWidth: 130
            primary: !bar.connected
            text: bar.connected ? "Disconnect" : "Connect"
            onClicked: bar.connectRequested()
        }
    }
}
