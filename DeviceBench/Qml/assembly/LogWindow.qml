import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import QtQuick.Window 2.15
import "."

// The log window: one rich-text line per message, time and tag coloured by type; the view
// follows the newest line. Message texts are escaped, so bytes from a device never turn into
// markup.
Window {
    id: logWindow
    // The DeviceBenchManager this component works on; set by whoever creates it.
    property var manager: null
    title: "DeviceBench' Log"
    width: 960
    height: 520
    color: "black"

    // Past this many lines the older half is dropped, so a long byte-flow session stays fast.
    readonly property int maxLines: 4000
    property int lineCount: 0
    readonly property string readyText: "Log is ready..."

    function escaped(text) {
        return String(text).replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/>/g, "&gt;").replace(/\n/g, "<br>");
    }
    function styleFor(type) {
        switch (type) {
        case "WARNING":
            return { "tag": "[WARNING]", "color": Theme.warning };
        case "ERROR":
            return { "tag": "[ERROR]", "color": Theme.error };
        case "BYTES":
        case "BYTE":
            return { "tag": "[BYTESFLOW]", "color": Theme.bytes };
        case "SUCCESS":
            return { "tag": "[SUCCESS]", "color": "#00FF6B" };
        case "CMX":
            return { "tag": "[CMX]", "color": Theme.bytes };
        default:
            return { "tag": "[INFO]", "color": "#3CD45A" };
        }
    }
    // A line from the manager's sendLogMessage: unknown types show as INFO.
    function appendLine(message, type) {
        var known = ["INFO", "WARNING", "ERROR", "BYTES", "BYTE"];
        appendTagged(message, known.indexOf(type) >= 0 ? type : "INFO");
    }
    // A line of the pages' own, tagged "SUCCESS", "CMX" or any type appendLine knows.
    function appendTagged(message, type) {
        var style = styleFor(type);
        var stamp = Qt.formatDateTime(new Date(), "yyyy-MM-dd hh:mm:ss");
        logText.append("<font color=\"" + style.color + "\">" + stamp + " " + style.tag + "</font> <font color=\"#EEEEEE\">" + escaped(message) + "</font>");
        lineCount += 1;
        if (lineCount > maxLines)
            dropOlderHalf();
        logText.cursorPosition = logText.length;
    }
    function dropOlderHalf() {
        var plain = logText.getText(0, logText.length);
        var middle = Math.floor(plain.length / 2);
        var cut = plain.indexOf("\u2029", middle);
        if (cut < 0)
            cut = plain.indexOf("\n", middle);
        if (cut < 0)
            return;
        logText.remove(0, cut + 1);
        lineCount = Math.floor(lineCount / 2);
    }
    function clear() {
        logText.text = readyText;
        lineCount = 0;
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: Theme.spacing
        spacing: Theme.spacing
        RowLayout {
            Layout.fillWidth: true
            spacing: Theme.spacing
            DefaultSwitch {
                objectName: "bytesFlowSwitch"
                text: "Show bytes flow"
                onToggled: logWindow.manager.SetLogBytesFlowStatus(checked)
            }
            Item {
                Layout.fillWidth: true
            }
            DefaultToolButton {
                text: "Clear"
                onClicked: logWindow.clear()
            }
        }
        Flickable {
            id: flick
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            contentWidth: width
            contentHeight: logText.implicitHeight
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {}
            TextArea.flickable: TextArea {
                id: logText
                objectName: "logText"
                readOnly: true
                selectByMouse: true
                textFormat: TextEdit.RichText
                wrapMode: TextEdit.Wrap
                color: "#EEEEEE"
                font.family: "monospace"
                font.pixelSize: 12
                text: logWindow.readyText
                background: Rectangle {
                    color: "black"
                }
            }
        }
    }
}
