import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Dialogs 1.3
import QtQuick.Layouts 1.15
import "."
import DeviceBench 1.0

// One element row of a tab, drawn by its element type: 0 heading, 1 text field, 2 switch and
// text field, 3 drop-down, 4 upgrade package, 5 drop-down with the field-of-view editor.
// `row` is the level2List row, `element` the matching myMap entry (null until there is one).
Item {
    id: rowItem
    // The DeviceBenchManager this component works on; set by whoever creates it.
    property var manager: null
    property var row: []
    property var element: null
    property var fovList: []
    readonly property int type: row.length > 1 ? row[1] : -1
    readonly property int level1: row.length > 4 ? row[2] : -1
    readonly property int level2: row.length > 4 ? row[3] : -1
    readonly property int position: row.length > 4 ? row[4] : -1
    readonly property string suffix: level1 + "_" + level2 + "_" + position
    readonly property bool editable: element !== null && element.permission !== 0
    readonly property string value: element !== null ? String(element.current_val) : ""
    signal refused(string message)

    objectName: type === 0 ? "heading_" + (row.length > 0 ? row[0] : "") : "row_" + suffix
    implicitHeight: type === 0 ? 44 : (loader.item ? loader.item.implicitHeight : Theme.rowHeight) + 6

    function optionTexts() {
        if (element === null || !element.options)
            return [];
        var texts = [];
        for (var i = 0; i < element.options.length; ++i) {
            var key = String(element.options[i]);
            var names = element.varname_value_to_option || {};
            texts.push(names[key] !== undefined ? names[key] : key);
        }
        return texts;
    }
    // Starts the firmware upgrade of this upgrade row with the package at `fileUrl` (the file
    // dialog's choice); only ".patch" files are taken.
    function upgrade(fileUrl) {
        if (!/\.patch$/.test(String(fileUrl))) {
            refused("Upgrade package rejected: it has to be a .patch file");
            return -1;
        }
        if (!manager.IsConnected) {
            refused("Please connect to lidar first");
            return -1;
        }
        return manager.UpgradeLidar(fileUrl, level1, level2, position);
    }
    function optionIndex() {
        if (element === null || !element.options)
            return -1;
        var current = Number(element.current_val);
        for (var i = 0; i < element.options.length; ++i) {
            if (Number(element.options[i]) === current)
                return i;
        }
        return -1;
    }

    Text {
        id: label
        visible: rowItem.type !== 0
        width: Theme.labelWidth
        anchors.top: parent.top
        anchors.topMargin: 3
        height: Theme.rowHeight
        verticalAlignment: Text.AlignVCenter
        text: rowItem.row.length > 0 ? rowItem.row[0] : ""
        color: Theme.text
        font.pixelSize: Theme.fontSize
        wrapMode: Text.Wrap
        maximumLineCount: 2
    }
    Loader {
        id: loader
        anchors.left: rowItem.type === 0 ? parent.left : label.right
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.topMargin: rowItem.type === 0 ? 0 : 3
        sourceComponent: {
            switch (rowItem.type) {
            case 0:
                return headingComponent;
            case 1:
                return textComponent;
            case 2:
                return switchComponent;
            case 3:
                return comboComponent;
            case 4:
                return upgradeComponent;
            case 5:
                return fovComponent;
            default:
                return null;
            }
        }
    }

    Component {
        id: headingComponent
        Item {
            implicitHeight: 44
            Text {
                anchors.bottom: rule.top
                anchors.bottomMargin: 6
                text: rowItem.row.length > 0 ? rowItem.row[0] : ""
                color: Theme.text
                font.pixelSize: Theme.headingSize
                font.bold: true
            }
            Rectangle {
                id: rule
                anchors.bottom: parent.bottom
                anchors.bottomMargin: 4
                width: parent.width
                height: 1
                color: Theme.midlight
            }
        }
    }
    Component {
        id: textComponent
        RowLayout {
            DefaultTextField {
                objectName: "field_" + rowItem.suffix
                Layout.preferredWidth: Theme.editorWidth
                text: rowItem.value
                readOnly: !rowItem.editable
                onTextEdited: rowItem.manager.SetText(EditKind.Text, rowItem.level1, rowItem.level2, rowItem.position, text)
            }
            Item {
                Layout.fillWidth: true
            }
        }
    }
    Component {
        id: switchComponent
        RowLayout {
            spacing: Theme.spacing
            DefaultSwitch {
                id: toggle
                objectName: "switch_" + rowItem.suffix
                enabled: rowItem.editable
                checked: rowItem.element !== null && rowItem.element.switch_index !== undefined && String(rowItem.element.switch_index) !== "0"
                onToggled: rowItem.manager.SetText(EditKind.Switch, rowItem.level1, rowItem.level2, rowItem.position, checked ? "1" : "0")
            }
            DefaultTextField {
                objectName: "field_" + rowItem.suffix
                Layout.preferredWidth: Theme.editorWidth - toggle.width - Theme.spacing
                text: rowItem.value
                readOnly: !rowItem.editable
                enabled: toggle.checked
                onTextEdited: rowItem.manager.SetText(EditKind.Text, rowItem.level1, rowItem.level2, rowItem.position, text)
            }
            Item {
                Layout.fillWidth: true
            }
        }
    }
    Component {
        id: comboComponent
        RowLayout {
            DefaultComboBox {
                objectName: "combo_" + rowItem.suffix
                Layout.preferredWidth: Theme.editorWidth
                enabled: rowItem.editable
                model: rowItem.optionTexts()
                currentIndex: rowItem.optionIndex()
                fallbackText: rowItem.value
                onActivated: rowItem.manager.SetText(EditKind.Option, rowItem.level1, rowItem.level2, rowItem.position, String(index))
            }
            Item {
                Layout.fillWidth: true
            }
        }
    }
    Component {
        id: upgradeComponent
        RowLayout {
            spacing: Theme.spacing
            DefaultToolButton {
                objectName: "upgradeButton_" + rowItem.suffix
                text: "Choose Upgrade Package"
                enabled: !rowItem.manager.IsUpgrading
                onClicked: packageDialog.open()
            }
            UpgradeProgress {
                manager: rowItem.manager
                suffix: rowItem.suffix
            }
            Item {
                Layout.fillWidth: true
            }
            FileDialog {
                id: packageDialog
                title: "Choose Upgrade Package"
                nameFilters: ["Upgrade package (*.patch)", "All files (*)"]
                selectExisting: true
                onAccepted: rowItem.upgrade(fileUrl)
            }
        }
    }
    Component {
        id: fovComponent
        ColumnLayout {
            spacing: 6
            DefaultComboBox {
                id: modeBox
                objectName: "combo_" + rowItem.suffix
                Layout.preferredWidth: Theme.editorWidth
                enabled: rowItem.editable
                model: rowItem.optionTexts()
                currentIndex: rowItem.optionIndex()
                fallbackText: rowItem.value
                onActivated: rowItem.manager.SetText(EditKind.Option, rowItem.level1, rowItem.level2, rowItem.position, String(index))
            }
            Repeater {
                model: modeBox.currentIndex > 0 ? 5 : 1
                RowLayout {
                    spacing: Theme.spacing
                    Text {
                        Layout.preferredWidth: 80
                        text: "Channel " + (index + 1)
                        color: Theme.dimText
                        font.pixelSize: Theme.fontSize
                    }
                    Text {
                        text: "Start"
                        color: Theme.text
                        font.pixelSize: Theme.fontSize
                    }
                    DefaultTextField {
                        objectName: "fovStart_" + index
                        Layout.preferredWidth: 90
                        text: rowItem.fovList.length > index ? rowItem.fovList[index] : ""
                        enabled: rowItem.editable
                        validator: DoubleValidator {
                            bottom: 0
                            top: 360
                            decimals: 1
                        }
                        onEditingFinished: rowItem.manager.SetMultiFovConfig(index, text)
                    }
                    Text {
                        text: "End"
                        color: Theme.text
                        font.pixelSize: Theme.fontSize
                    }
                    DefaultTextField {
                        objectName: "fovEnd_" + index
                        Layout.preferredWidth: 90
                        text: rowItem.fovList.length > index + 5 ? rowItem.fovList[index + 5] : ""
                        enabled: rowItem.editable
                        validator: DoubleValidator {
                            bottom: 0
                            top: 360
                            decimals: 1
                        }
                        onEditingFinished: rowItem.manager.SetMultiFovConfig(index + 5, text)
                    }
                }
            }
            Histogram {
                Layout.preferredWidth: Theme.editorWidth
                channels: modeBox.currentIndex > 0 ? 5 : 1
                starts: rowItem.fovList.slice(0, 5)
                ends: rowItem.fovList.slice(5, 10)
            }
        }
    }
}
