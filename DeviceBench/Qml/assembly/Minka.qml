import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Dialogs 1.3
import QtQuick.Layouts 1.15
import "."
import DeviceBench 1.0

// The page of the Minka and Rusko families (serial-model kinds 1 and 2): the information the
// sensor reports, its modes, line speed, destination, IMU range, calibration and upgrade.
Item {
    id: page
    // The DeviceBenchManager this component works on; set by whoever creates it.
    property var manager: null
    property string modelName: ""
    readonly property bool cmxSerial: page.manager.connectType === ConnectType.SerialOverCmx
    readonly property bool rusko: modelName === "Rusko-CMX"
    readonly property bool connected: page.manager.IsConnected
    property var safety: []
    // The information rows: what the sensor's packets say, then its versions.
    readonly property var infoRows: page.manager.MinkaLidarInfo.concat(page.manager.MinkaLidarVersionInfo)
    signal refused(string message)

    // An info entry may be a [name, value] pair, a map with var_name/current_val, or a text.
    function entryName(entry, i) {
        if (Array.isArray(entry) && entry.length > 0)
            return String(entry[0]);
        if (entry !== null && typeof entry === "object" && entry.var_name !== undefined)
            return String(entry.var_name);
        return "Item " + (i + 1);
    }
    function entryValue(entry) {
        if (Array.isArray(entry))
            return entry.length > 1 ? String(entry[1]) : "";
        if (entry !== null && typeof entry === "object" && entry.current_val !== undefined)
            return String(entry.current_val);
        return String(entry);
    }
    function needConnection() {
        if (!connected)
            refused("Please connect to lidar first");
        return connected;
    }

    FileDialog {
        id: correctionDialog
        title: "Save calibration data"
        selectExisting: false
        onAccepted: {
            var path = decodeURIComponent(String(fileUrl).replace(/^file:\/\//, ""));
            if (page.manager.MinkaGetCorrection(path) === 0)
                page.manager.setSuccessMsg("Calibration data saved to " + path);
        }
    }
    FileDialog {
        id: packageDialog
        title: "Choose Upgrade Package"
        selectExisting: true
        onAccepted: {
            if (page.rusko)
                page.manager.RuskoUpgradeLidar(fileUrl);
            else
                page.manager.MinkaUpgradeLidar(fileUrl);
        }
    }

    ScrollView {
        id: scroller
        anchors.fill: parent
        clip: true
        contentWidth: availableWidth
        ColumnLayout {
            x: Theme.margin
            width: Math.min(scroller.availableWidth - 2 * Theme.margin, 920)
            spacing: 6

            Text {
                Layout.topMargin: Theme.margin
                text: "Lidar Info"
                color: Theme.text
                font.pixelSize: Theme.headingSize
                font.bold: true
            }
            Rectangle {
                Layout.fillWidth: true
                height: 1
                color: Theme.midlight
            }
            // Rows refresh in place as the packets update them (a few times a second); only a
            // change in the number of rows makes new ones.
            Repeater {
                model: page.infoRows.length
                RowLayout {
                    spacing: Theme.spacing
                    Text {
                        Layout.preferredWidth: Theme.labelWidth
                        text: page.entryName(page.infoRows[index], index)
                        color: Theme.text
                        font.pixelSize: Theme.fontSize
                    }
                    DefaultTextField {
                        objectName: "infoValue_" + page.entryName(page.infoRows[index], index)
                        readOnly: true
                        text: page.entryValue(page.infoRows[index])
                    }
                }
            }
            RowLayout {
                spacing: Theme.spacing
                Text {
                    Layout.preferredWidth: Theme.labelWidth
                    text: "Malformed Packets Dropped"
                    color: Theme.text
                    font.pixelSize: Theme.fontSize
                }
                Text {
                    objectName: "dropCount"
                    text: page.manager.MinkaInfoDropCount
                    color: page.manager.MinkaInfoDropCount > 0 ? Theme.warning : Theme.dimText
                    font.pixelSize: Theme.fontSize
                }
            }
            RowLayout {
                visible: page.manager.isGetPBLVersion
                BusyIndicator {
                    running: parent.visible
                    implicitWidth: 28
                    implicitHeight: 28
                }
                Text {
                    text: "Reading the PBL version..."
                    color: Theme.dimText
                    font.pixelSize: Theme.fontSize
                }
            }

            Text {
                Layout.topMargin: Theme.margin
                text: "Operation"
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
                spacing: Theme.spacing
                Text {
                    Layout.preferredWidth: Theme.labelWidth
                    text: "Standby"
                    color: Theme.text
                    font.pixelSize: Theme.fontSize
                }
                DefaultSwitch {
                    objectName: "standbySwitch"
                    enabled: page.connected
                    onToggled: page.manager.MinkaSetStandby(checked ? 1 : 0)
                }
            }
            RowLayout {
                spacing: Theme.spacing
                Text {
                    Layout.preferredWidth: Theme.labelWidth
                    text: "Return Mode"
                    color: Theme.text
                    font.pixelSize: Theme.fontSize
                }
                DefaultComboBox {
                    enabled: page.connected
                    model: ["Single Return", "Dual Return"]
                    onActivated: page.manager.MinkaSetReturnMode(index)
                }
            }
            RowLayout {
                spacing: Theme.spacing
                Text {
                    Layout.preferredWidth: Theme.labelWidth
                    text: "Spin Rate (Hz)"
                    color: Theme.text
                    font.pixelSize: Theme.fontSize
                }
                DefaultTextField {
                    id: spinField
                    Layout.preferredWidth: 120
                    enabled: page.connected
                    validator: IntValidator {
                        bottom: 1
                        top: 255
                    }
                    text: "10"
                }
                DefaultToolButton {
                    text: "Set"
                    enabled: page.connected && spinField.acceptableInput
                    onClicked: page.manager.MinkaSetSpinRate(parseInt(spinField.text))
                }
            }

            Text {
                Layout.topMargin: Theme.margin
                visible: page.cmxSerial
                text: "Serial Link and Destination"
                color: Theme.text
                font.pixelSize: Theme.headingSize
                font.bold: true
            }
            Rectangle {
                visible: page.cmxSerial
                Layout.fillWidth: true
                height: 1
                color: Theme.midlight
            }
            RowLayout {
                visible: page.cmxSerial
                spacing: Theme.spacing
                Text {
                    Layout.preferredWidth: Theme.labelWidth
                    text: "Line Speed (baud)"
                    color: Theme.text
                    font.pixelSize: Theme.fontSize
                }
                DefaultTextField {
                    id: speedField
                    Layout.preferredWidth: 160
                    validator: RegExpValidator {
                        regExp: /[0-9]{0,9}/
                    }
                }
                DefaultToolButton {
                    text: "Read"
                    enabled: page.connected
                    onClicked: {
                        var speed = page.manager.MinkaGetBaudRate();
                        if (speed !== "")
                            speedField.text = speed;
                    }
                }
                DefaultToolButton {
                    text: "Set"
                    enabled: page.connected
                    onClicked: page.manager.MinkaSetBaudRateFromUI(speedField.text)
                }
            }
            RowLayout {
                visible: page.cmxSerial
                spacing: Theme.spacing
                Text {
                    Layout.preferredWidth: Theme.labelWidth
                    text: "Destination IP / Port"
                    color: Theme.text
                    font.pixelSize: Theme.fontSize
                }
                DefaultTextField {
                    id: destinationIp
                    Layout.preferredWidth: 160
                    placeholderText: "192.168.1.102"
                }
                DefaultTextField {
                    id: destinationPort
                    Layout.preferredWidth: 90
                    placeholderText: "2368"
                    validator: IntValidator {
                        bottom: 1
                        top: 65535
                    }
                }
                DefaultToolButton {
                    text: "Read"
                    enabled: page.connected
                    onClicked: {
                        var destination = page.manager.MinkaGetDestinationConfig(false);
                        if (destination.length >= 2) {
                            destinationIp.text = destination[0];
                            destinationPort.text = destination[1];
                        }
                    }
                }
                DefaultToolButton {
                    text: "Set"
                    enabled: page.connected && destinationPort.acceptableInput
                    onClicked: page.manager.MinkaSetDestinationIPandPort(destinationIp.text, parseInt(destinationPort.text))
                }
            }
            RowLayout {
                visible: page.rusko
                spacing: Theme.spacing
                Text {
                    Layout.preferredWidth: Theme.labelWidth
                    text: "IMU Range (angular / acceleration)"
                    color: Theme.text
                    font.pixelSize: Theme.fontSize
                }
                DefaultComboBox {
                    id: angularBox
                    Layout.preferredWidth: 140
                    model: ["Range 0", "Range 1", "Range 2", "Range 3", "Range 4", "Range 5"]
                }
                DefaultComboBox {
                    id: accelBox
                    Layout.preferredWidth: 140
                    model: ["Range 0", "Range 1", "Range 2", "Range 3"]
                }
                DefaultToolButton {
                    text: "Set"
                    enabled: page.connected
                    onClicked: page.manager.RuskoSetIMURange(angularBox.currentIndex, accelBox.currentIndex)
                }
            }

            Text {
                Layout.topMargin: Theme.margin
                text: "Maintenance"
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
                spacing: Theme.spacing
                Text {
                    Layout.preferredWidth: Theme.labelWidth
                    text: "Function Safety"
                    color: Theme.text
                    font.pixelSize: Theme.fontSize
                }
                DefaultToolButton {
                    text: "Read"
                    enabled: page.connected
                    onClicked: page.safety = page.manager.MinkaGetLidarFunctionSafety()
                }
                Text {
                    text: page.safety.length > 0 ? page.safety.join("  ") : ""
                    color: Theme.text
                    font.pixelSize: Theme.fontSize
                }
            }
            RowLayout {
                spacing: Theme.spacing
                Text {
                    Layout.preferredWidth: Theme.labelWidth
                    text: "Calibration Data"
                    color: Theme.text
                    font.pixelSize: Theme.fontSize
                }
                DefaultToolButton {
                    text: "Download"
                    onClicked: if (page.needConnection())
                        correctionDialog.open()
                }
            }
            RowLayout {
                spacing: Theme.spacing
                Text {
                    Layout.preferredWidth: Theme.labelWidth
                    text: "Firmware Upgrade"
                    color: Theme.text
                    font.pixelSize: Theme.fontSize
                }
                DefaultComboBox {
                    Layout.preferredWidth: 200
                    visible: !page.rusko
                    model: ["Application and FPGA", "Boot Loader", "CMX File Streaming"]
                    onActivated: page.manager.MinkaSetUpgradeMode(index)
                }
                DefaultToolButton {
                    text: "Choose Upgrade Package"
                    enabled: !page.manager.IsUpgrading
                    onClicked: if (page.needConnection())
                        packageDialog.open()
                }
                BusyIndicator {
                    visible: page.manager.IsUpgrading
                    running: visible
                    implicitWidth: 28
                    implicitHeight: 28
                }
                UpgradeProgress {
                    manager: page.manager
                    suffix: "minka"
                }
            }
            Item {
                Layout.preferredHeight: Theme.margin
            }
        }
    }
}
