import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Dialogs 1.3
import QtQuick.Layouts 1.15
import "."

// Parameter snapshots: export to a file, and import with the differences listed before anything
// is written. Rows the sensor cannot take (read-only values, its own address) are shown greyed
// with the reason; only the others are written, as a Save writes them.
Item {
    id: tools
    // The DeviceBenchManager this component works on; set by whoever creates it.
    property var manager: null
    objectName: "snapshotTools"
    property var differences: []
    property bool rangeRefused: false
    readonly property int writableCount: {
        var count = 0;
        for (var i = 0; i < differences.length; ++i)
            if (differences[i].writable)
                ++count;
        return count;
    }
    signal refused(string message)

    function exportSnapshot() {
        if (!tools.manager.IsConnected) {
            refused("Lidar Not Connected");
            return;
        }
        exportDialog.open();
    }
    function importSnapshot() {
        if (!tools.manager.IsConnected) {
            refused("Lidar Not Connected");
            return;
        }
        importDialog.open();
    }
    // The differences of the file at `url`; the list opens when there are any.
    function compareWith(url) {
        differences = tools.manager.LoadSnapshotDiff(url);
        rangeRefused = false;
        if (differences.length > 0)
            diffPopup.open();
    }
    function write() {
        var result = tools.manager.WriteSnapshot(rangeRefused);
        if (result === -2) {
            rangeRefused = true;
            return;
        }
        diffPopup.close();
    }

    FileDialog {
        id: exportDialog
        title: "Export Snapshot"
        selectExisting: false
        nameFilters: ["Parameter snapshot (*.json)"]
        onAccepted: tools.manager.ExportSnapshot(fileUrl)
    }
    FileDialog {
        id: importDialog
        title: "Import Snapshot"
        nameFilters: ["Parameter snapshot (*.json)"]
        onAccepted: tools.compareWith(fileUrl)
    }

    Popup {
        id: diffPopup
        objectName: "snapshotDiff"
        modal: true
        focus: true
        closePolicy: Popup.CloseOnEscape
        width: 640
        x: Math.round((tools.width - width) / 2)
        y: Math.round((tools.height - height) / 2)
        padding: 20
        background: Rectangle {
            radius: 6
            color: Theme.dark
            border.width: 1
            border.color: tools.rangeRefused ? Theme.warning : Theme.accent
        }
        contentItem: ColumnLayout {
            spacing: 12
            Text {
                text: "Snapshot differences"
                color: tools.rangeRefused ? Theme.warning : Theme.accent
                font.pixelSize: Theme.headingSize
                font.bold: true
            }
            Text {
                objectName: "snapshotSummary"
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                color: Theme.text
                font.pixelSize: Theme.fontSize
                text: tools.differences.length + (tools.differences.length === 1 ? " value differs" : " values differ")
                      + " between the lidar and the file; " + tools.writableCount + " will be written."
            }
            RowLayout {
                Layout.fillWidth: true
                spacing: Theme.spacing
                Repeater {
                    model: ["Variable", "Lidar now", "File", ""]
                    Text {
                        Layout.preferredWidth: index === 0 ? 200 : 140
                        Layout.fillWidth: index === 3
                        text: modelData
                        color: Theme.dimText
                        font.pixelSize: Theme.fontSize
                        font.bold: true
                    }
                }
            }
            ListView {
                objectName: "snapshotRows"
                Layout.fillWidth: true
                Layout.preferredHeight: Math.min(contentHeight, 360)
                clip: true
                model: tools.differences
                ScrollBar.vertical: ScrollBar {}
                delegate: RowLayout {
                    width: ListView.view ? ListView.view.width : 0
                    height: Theme.rowHeight - 6
                    spacing: Theme.spacing
                    opacity: modelData.writable ? 1.0 : 0.55
                    Text {
                        Layout.preferredWidth: 200
                        text: modelData.name
                        color: Theme.text
                        elide: Text.ElideRight
                        font.pixelSize: Theme.fontSize
                    }
                    Text {
                        Layout.preferredWidth: 140
                        text: modelData.device
                        color: Theme.dimText
                        elide: Text.ElideRight
                        font.pixelSize: Theme.fontSize
                    }
                    Text {
                        Layout.preferredWidth: 140
                        text: modelData.file
                        color: modelData.writable ? Theme.success : Theme.text
                        elide: Text.ElideRight
                        font.pixelSize: Theme.fontSize
                    }
                    Text {
                        Layout.fillWidth: true
                        text: modelData.kept ? "kept (address)" : (modelData.writable ? "" : "read-only")
                        color: Theme.dimText
                        font.pixelSize: Theme.fontSize
                    }
                }
            }
            Text {
                objectName: "snapshotRangeWarning"
                visible: tools.rangeRefused
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                color: Theme.warning
                font.pixelSize: Theme.fontSize
                text: "Some values are outside the range of the variable table (see the log window). Nothing was written."
            }
            RowLayout {
                Layout.alignment: Qt.AlignRight
                spacing: Theme.spacing
                DefaultToolButton {
                    objectName: "snapshotCancelButton"
                    text: "Cancel"
                    onClicked: diffPopup.close()
                }
                DefaultToolButton {
                    objectName: "snapshotWriteButton"
                    primary: true
                    enabled: tools.writableCount > 0
                    text: tools.rangeRefused ? "Write anyway" : "Write " + tools.writableCount + (tools.writableCount === 1 ? " value" : " values")
                    onClicked: tools.write()
                }
            }
        }
    }
}
