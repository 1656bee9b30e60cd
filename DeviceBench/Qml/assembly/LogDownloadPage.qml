import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Dialogs 1.3
import QtQuick.Layouts 1.15
import "."

// The log tab: the operation-log archive and one download row per named log of the table.
Item {
    id: page
    // The DeviceBenchManager this component works on; set by whoever creates it.
    property var manager: null
    objectName: "logDownloadPage"
    property var logNames: []
    signal refused(string message)

    function canStart() {
        if (!page.manager.IsConnected) {
            refused("Lidar Not Connected");
            return false;
        }
        if (page.manager.IsDownloadLog) {
            refused("Is downloading. Please wait.");
            return false;
        }
        return true;
    }

    property string pendingLog: ""

    // What the dialogs start once a place is chosen.
    function downloadArchive(url) {
        page.manager.DownloadOperationLog(url);
    }
    function downloadLog(url, name) {
        page.manager.DownloadLog(url, name);
    }

    FileDialog {
        id: archiveDialog
        title: "Save Operation Log"
        selectExisting: false
        nameFilters: ["Tar archive (*.tar)"]
        onAccepted: page.downloadArchive(fileUrl)
    }
    FileDialog {
        id: folderDialog
        title: "Choose a folder for " + page.pendingLog
        selectFolder: true
        onAccepted: page.downloadLog(fileUrl, page.pendingLog)
    }

    ColumnLayout {
        x: Theme.margin
        y: Theme.margin
        width: Math.min(page.width - 2 * Theme.margin, 920)
        spacing: 6
        Text {
            text: "Logs"
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
                text: "Operation Log"
                color: Theme.text
                font.pixelSize: Theme.fontSize
            }
            DefaultToolButton {
                objectName: "operationLogButton"
                text: "Download"
                onClicked: if (page.canStart())
                    archiveDialog.open()
            }
        }
        Repeater {
            model: page.logNames
            RowLayout {
                spacing: Theme.spacing
                Text {
                    Layout.preferredWidth: Theme.labelWidth
                    text: modelData
                    color: Theme.text
                    font.pixelSize: Theme.fontSize
                }
                DefaultToolButton {
                    objectName: "logButton_" + index
                    text: "Download"
                    onClicked: {
                        if (!page.canStart())
                            return;
                        page.pendingLog = modelData;
                        folderDialog.open();
                    }
                }
            }
        }
        RowLayout {
            objectName: "downloadProgress"
            visible: page.manager.IsDownloadLog
            spacing: Theme.spacing
            // The sensor sends each log as one reply, so there is no byte count to show.
            ProgressBar {
                objectName: "downloadBar"
                Layout.preferredWidth: 200
                indeterminate: parent.visible
            }
            Text {
                text: "Is downloading. Please wait."
                color: Theme.dimText
                font.pixelSize: Theme.fontSize
            }
        }
    }
}
