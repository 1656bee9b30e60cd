import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15

// The firmware upgrade's progress: frames acknowledged of the total, and the time left estimated
// from the pace so far. The manager's progress properties have no change signal, so they are
// polled while IsUpgrading, and read once more when it ends so that the bar shows where the
// upgrade stopped.
RowLayout {
    id: bar
    property var manager
    property string suffix: ""
    readonly property alias text: label.text
    readonly property alias value: progress.value
    property int done: 0
    property int total: 0
    property double startedMs: 0

    spacing: Theme.spacing

    function timeLeft(done, total, elapsedMs) {
        if (done <= 0 || total <= done || elapsedMs <= 0)
            return "";
        var seconds = Math.ceil((total - done) * elapsedMs / done / 1000);
        if (seconds < 60)
            return seconds + " s left";
        return Math.floor(seconds / 60) + " min " + (seconds % 60) + " s left";
    }
    function refresh() {
        bar.done = bar.manager.upgradeProgress;
        // The expected total is a guess from the file size; the frames sent may pass it.
        bar.total = Math.max(bar.manager.upgradeProgressTotalLen, bar.done);
        progress.value = bar.total > 0 ? bar.done / bar.total : 0;
        var text = bar.total > 0 ? bar.done + " / " + bar.total + " frames" : "";
        var left = bar.manager.IsUpgrading ? timeLeft(bar.done, bar.total, Date.now() - bar.startedMs) : "";
        label.text = left !== "" ? text + ", about " + left : text;
    }

    ProgressBar {
        id: progress
        objectName: "upgradeProgress_" + bar.suffix
        Layout.preferredWidth: 200
        from: 0
        to: 1
        value: 0
        // The default style draws the done part in the window colour: accent on a dark track.
        background: Rectangle {
            implicitWidth: 200
            implicitHeight: 8
            radius: 4
            color: Theme.button
        }
        contentItem: Item {
            implicitWidth: 200
            implicitHeight: 8
            Rectangle {
                width: progress.visualPosition * parent.width
                height: parent.height
                radius: 4
                color: Theme.accent
            }
        }
    }
    Text {
        id: label
        objectName: "upgradeProgressText_" + bar.suffix
        color: Theme.dimText
        font.pixelSize: Theme.fontSize
        text: ""
    }
    Timer {
        interval: 300
        repeat: true
        running: bar.manager.IsUpgrading
        triggeredOnStart: true
        onRunningChanged: {
            if (running)
                bar.startedMs = Date.now();
            else
                bar.refresh();
        }
        onTriggered: bar.refresh()
    }
}
