import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "."

// One level1 tab: its element rows from level2List, and the Cancel / Save bar.
Item {
    id: page
    // The DeviceBenchManager the rows work on.
    property var manager: null
    property int level1Index: 0
    property var rows: []
    property var pageMap: []
    property var fovList: []
    // What Save would change on this page: [{name, saved, staged}], shown beside the buttons.
    property var pending: []
    signal saveRequested(int level1)
    signal cancelRequested(int level1)
    signal refused(string message)

    function refreshPending() {
        pending = page.manager ? page.manager.PendingChanges(page.level1Index) : [];
    }
    function pendingText() {
        var parts = [];
        for (var i = 0; i < pending.length; ++i)
            parts.push(pending[i].name + ": " + pending[i].saved + " \u2192 " + pending[i].staged);
        return parts.join("    ");
    }
    Component.onCompleted: refreshPending()
    Connections {
        target: page.manager
        function onPendingChangesChanged() { page.refreshPending(); }
        function onMyMapChanged() { page.refreshPending(); }
    }

    function elementFor(row) {
        if (row.length < 5 || !pageMap)
            return null;
        var section = pageMap[row[3]];
        if (!section || row[4] >= section.length)
            return null;
        return section[row[4]] || null;
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0
        ScrollView {
            id: scroller
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            contentWidth: availableWidth
            Column {
                width: Math.min(scroller.availableWidth - 2 * Theme.margin, 920)
                x: Theme.margin
                topPadding: 4
                bottomPadding: Theme.margin
                spacing: 2
                Repeater {
                    model: page.rows
                    ElementRow {
                        width: parent.width
                        manager: page.manager
                        row: modelData
                        element: page.elementFor(modelData)
                        fovList: page.fovList
                        onRefused: page.refused(message)
                    }
                }
            }
        }
        Rectangle {
            Layout.fillWidth: true
            height: 1
            color: Theme.midlight
        }
        RowLayout {
            Layout.fillWidth: true
            Layout.margins: Theme.margin
            spacing: Theme.spacing
            Text {
                objectName: "pendingChanges_" + page.level1Index
                Layout.fillWidth: true
                text: page.pending.length === 0 ? "" : (page.pending.length === 1 ? "1 change to save: " : page.pending.length + " changes to save: ") + page.pendingText()
                color: Theme.warning
                elide: Text.ElideRight
                font.pixelSize: Theme.fontSize
                MouseArea {
                    id: pendingHover
                    anchors.fill: parent
                    hoverEnabled: true
                }
                ToolTip.visible: pendingHover.containsMouse && page.pending.length > 0
                ToolTip.text: page.pendingText().split("    ").join("\n")
            }
            DefaultToolButton {
                objectName: "cancelButton_" + page.level1Index
                text: "Cancel"
                onClicked: page.cancelRequested(page.level1Index)
            }
            DefaultToolButton {
                objectName: "saveButton_" + page.level1Index
                text: "Save"
                primary: true
                onClicked: page.saveRequested(page.level1Index)
            }
        }
    }
}
