pragma Singleton
import QtQuick 2.15

// Colours and metrics shared by every page, taken from the application palette.
QtObject {
    readonly property color window: "#2B2C2E"
    readonly property color base: "#010101"
    readonly property color dark: "#222325"
    readonly property color button: "#3A3D3F"
    readonly property color midlight: "#4D4D4D"
    readonly property color light: "#666666"
    readonly property color highlight: "#999999"
    readonly property color text: "#EEEEEE"
    readonly property color dimText: "#A0A0A0"
    readonly property color accent: "#3D8EE6"
    readonly property color success: "#00FF6B"
    readonly property color warning: "#FFA500"
    readonly property color error: "#FF5050"
    readonly property color bytes: "#9A9A9A"
    readonly property int spacing: 8
    readonly property int margin: 12
    readonly property int rowHeight: 32
    readonly property int fontSize: 13
    readonly property int headingSize: 15
    readonly property int labelWidth: 320
    readonly property int editorWidth: 360
    readonly property int radius: 3
    readonly property real disabledOpacity: 0.4
}
