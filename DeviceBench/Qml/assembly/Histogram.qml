import QtQuick 2.15
import "."

// Coverage strip of the field-of-view channels over 0..360 degrees: one bar per channel, a
// channel whose end lies before its start wraps around 360.
Item {
    id: strip
    property var starts: []
    property var ends: []
    property int channels: 1
    implicitHeight: 34

    function segments() {
        var result = [];
        for (var i = 0; i < channels && i < starts.length && i < ends.length; ++i) {
            var s = Number(starts[i]), e = Number(ends[i]);
            if (isNaN(s) || isNaN(e))
                continue;
            if (e >= s) {
                result.push({ "from": s, "to": e, "channel": i });
            } else {
                result.push({ "from": s, "to": 360, "channel": i });
                result.push({ "from": 0, "to": e, "channel": i });
            }
        }
        return result;
    }

    Rectangle {
        id: track
        anchors.left: parent.left
        anchors.right: parent.right
        height: 14
        radius: 2
        color: Theme.base
        border.color: Theme.midlight
        Repeater {
            model: strip.segments()
            Rectangle {
                x: track.width * modelData.from / 360
                width: Math.max(1, track.width * (modelData.to - modelData.from) / 360)
                y: 2 + modelData.channel * 2
                height: track.height - 4 - modelData.channel * 2
                color: Qt.hsla(0.58 - modelData.channel * 0.09, 0.7, 0.55, 0.85)
            }
        }
    }
    Repeater {
        model: [0, 90, 180, 270, 360]
        Text {
            y: track.height + 2
            x: Math.min(strip.width - width, Math.max(0, strip.width * modelData / 360 - width / 2))
            text: modelData + "°"
            color: Theme.dimText
            font.pixelSize: 10
        }
    }
}
