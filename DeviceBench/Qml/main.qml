import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "assembly"
import DeviceBench 1.0

// The DeviceBench pages: top bar, connection bar, the tabs generated from the model's table,
// and the message, log and about windows. Everything device-specific comes from
// device_bench_manager, which the page hands to each component as its `manager`; the pages
// only bind and call.
Rectangle {
    id: root
    objectName: "mainPage"
    color: Theme.window
    width: 1300
    height: 800

    readonly property var manager: device_bench_manager
    readonly property int connectType: manager.connectType
    readonly property bool connected: manager.IsConnected
    property string forcedModel: manager.getLMNowName()
    property string selectedModel: forcedModel !== "" ? forcedModel : "Corvel"
    property int mapRevision: 0
    readonly property var myMap: (mapRevision, manager.myMap)
    readonly property var level1List: manager.level1List
    readonly property var level2List: manager.level2List
    readonly property bool busy: loading.running || connectWatch.running
    property bool hasRestart: false
    property bool hasReset: false
    property var outOfRangeNames: []
    property var busyQueue: []
    readonly property var logWindowObject: logWindow

    readonly property string mismatchWarning: "WARNING: Please note that a mismatch is detected between the lidar model on the connection and the one selected. Some functions of DB may be in error."
    readonly property string badCodeWarning: "WARNING: There is a problem with the PN or SN code of the device you are connecting to."
    readonly property string emptyCodeWarning: "WARNING: Empty PN or SN code detected. Please check your device."

    // The identity check after connecting: "" when PN and SN fit the selected model. A code
    // with characters outside printable ASCII is a bad code; otherwise the model matches when
    // the PN contains its name or the SN starts with its first two characters (any case).
    function identityWarning(model, pn, sn) {
        if (pn === "" || sn === "")
            return emptyCodeWarning;
        if (!/^[\x20-\x7E]+$/.test(pn) || !/^[\x20-\x7E]+$/.test(sn))
            return badCodeWarning;
        var name = model.toUpperCase();
        if (pn.toUpperCase().indexOf(name) >= 0 || sn.toUpperCase().indexOf(name.substring(0, 2)) === 0)
            return "";
        return mismatchWarning;
    }

    // Blocking manager calls run after the overlay had a frame to show itself.
    function runBusy(text, work) {
        busyQueue.push({ "text": text, "work": work });
        if (!loading.running) {
            loading.text = text;
            loading.running = true;
            busyTimer.start();
        }
    }
    function refreshPermissions() {
        hasRestart = manager.CheckVarExistsInConfigFileByName("Restart");
        hasReset = manager.CheckVarExistsInConfigFileByName("Reset");
    }
    function logOwn(text, type) {
        logWindow.appendTagged(text, type);
    }
    function toggleConnection() {
        if (manager.GetIsConnectingLidar()) {
            messageWindow.show("Is Connecting Lidar... Please wait.");
            return;
        }
        if (connected) {
            if (manager.IsUpgrading)
                messageWindow.show("Disconnect REJECTED. Lidar is upgrading.");
            else
                manager.Stop();
            return;
        }
        connectionBar.pushFields();
        if (manager.ConnectLidar())
            connectWatch.start();
    }
    function isTablePage(index) {
        return connectType === ConnectType.Network && index >= 0 && index < level1List.length;
    }
    function readTab(index) {
        if (!isTablePage(index) || !connected)
            return;
        runBusy("Reading " + level1List[index] + "...", function () {
            manager.GetLidarModuleInfo(index);
        });
    }
    function afterConnect() {
        if (connectType !== ConnectType.Network)
            return;
        runBusy("Reading lidar information...", function () {
            manager.GetLidarModuleInfo(0);
            var warning = identityWarning(selectedModel, manager.getLidarPN(), manager.getLidarSN());
            if (warning !== "") {
                messageWindow.show(warning);
                logOwn(warning, "WARNING");
            }
            if (tabBar.currentIndex !== 0 && isTablePage(tabBar.currentIndex))
                manager.GetLidarModuleInfo(tabBar.currentIndex);
        });
    }
    function save(index) {
        if (!connected) {
            manager.setErrorMsg("Please connect to lidar first");
            return;
        }
        if (manager.getSetMapSize() <= 0) {
            messageWindow.show("Nothing to be saved");
            return;
        }
        outOfRangeNames = [];
        if (!manager.CheckModuleVarsWithinRange(index)) {
            var names = "";
            for (var i = 0; i < outOfRangeNames.length; ++i)
                names += outOfRangeNames[i] + ", ";
            rangeConfirmWindow.pendingPage = index;
            rangeConfirmWindow.show("The " + names + "set by the user was detected to be outside the range specified in the config file. Do you wish to continue?");
            return;
        }
        writePage(index);
    }
    function writePage(index) {
        runBusy("Saving " + level1List[index] + "...", function () {
            manager.Run(index);
            manager.GetLidarModuleInfo(index);
        });
    }
    function cancel(index) {
        manager.ClearSetMap();
        if (connected)
            readTab(index);
        else
            manager.UpdateUI();
    }
    function pageSpecs() {
        var specs = [];
        if (connectType === ConnectType.Network) {
            for (var i = 0; i < level1List.length; ++i) {
                var name = String(level1List[i]);
                var rows = level2List[i] || [];
                specs.push({ "kind": (rows.length === 0 && name.toLowerCase() === "log") ? "log" : "table", "index": i, "title": name });
            }
        } else {
            specs.push({ "kind": "minka", "index": -1, "title": "Lidar Info" });
        }
        specs.push({ "kind": "cmd", "index": -1, "title": "Send CMX Command" });
        return specs;
    }

    Timer {
        id: busyTimer
        interval: 60
        onTriggered: {
            var job = root.busyQueue.shift();
            try {
                if (job)
                    job.work();
            } finally {
                if (root.busyQueue.length > 0) {
                    loading.text = root.busyQueue[0].text;
                    busyTimer.start();
                } else {
                    loading.running = false;
                }
            }
        }
    }
    // The connection attempt runs on the manager's thread; watch its flag for the overlay.
    Timer {
        id: connectWatch
        interval: 150
        repeat: true
        onTriggered: if (!root.manager.GetIsConnectingLidar())
            stop()
    }
    // While connected to a network model, check the link every 5 s and close it when it fails.
    Timer {
        id: linkCheck
        interval: 5000
        repeat: true
        running: root.connected && root.connectType === ConnectType.Network
        onTriggered: {
            if (root.manager.IsUpgrading || root.manager.IsDownloadLog)
                return;
            if (!root.manager.CheckLidarConnection()) {
                root.logOwn("The lidar did not answer the connection check; disconnecting.", "WARNING");
                root.manager.Stop();
            }
        }
    }

    Connections {
        target: root.manager
        function onErrorMessageChanged() {
            errorWindow.show(root.manager.errorMessage);
        }
        function onSuccessMessageChanged() {
            successWindow.show(root.manager.successMessage);
        }
        function onSendLogMessage(msg, type) {
            logWindow.appendLine(msg, type);
        }
        function onSomeVarOutOfRange(var_name) {
            root.outOfRangeNames.push(var_name);
        }
        function onMyTimerMapChanged() {
            root.mapRevision += 1;
        }
        function onLidarModelChanged() {
            root.mapRevision += 1;
            root.refreshPermissions();
            tabBar.currentIndex = 0;
        }
        function onIsResetAllSettingsVisibleChanged() {
            root.refreshPermissions();
        }
        function onLidarModelListChanged() {
            root.forcedModel = root.manager.getLMNowName();
        }
        function onIsConnectedChanged() {
            if (root.manager.IsConnected)
                root.afterConnect();
        }
    }
    Component.onCompleted: refreshPermissions()

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        // Top bar: logo, model, log and the gear menu.
        Rectangle {
            Layout.fillWidth: true
            Layout.preferredHeight: 56
            color: Theme.dark
            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: Theme.margin
                anchors.rightMargin: Theme.margin
                spacing: Theme.spacing
                Image {
                    source: installRoot + "png/DeviceBench-LOGO-trans.svg"
                    sourceSize.width: 34
                    sourceSize.height: 34
                }
                Text {
                    text: "DeviceBench"
                    color: Theme.text
                    font.pixelSize: 20
                    font.bold: true
                }
                Item {
                    Layout.preferredWidth: 24
                }
                Text {
                    text: "Model:"
                    color: Theme.text
                    font.pixelSize: Theme.fontSize
                }
                DefaultComboBox {
                    id: modelCombo
                    objectName: "modelCombo"
                    Layout.preferredWidth: 170
                    model: root.manager.LidarModelList
                    currentIndex: model ? model.indexOf(root.selectedModel) : -1
                    fallbackText: root.selectedModel
                    enabled: !root.connected && root.forcedModel === ""
                    onActivated: {
                        var name = String(model[index]);
                        root.selectedModel = name;
                        root.logOwn("Current selected model is " + name, "INFO");
                        root.manager.InitConfigFileParser(name);
                        root.manager.UpdateUI();
                    }
                }
                Item {
                    Layout.fillWidth: true
                }
                Rectangle {
                    width: 10
                    height: 10
                    radius: 5
                    color: root.connected ? Theme.success : Theme.light
                }
                Text {
                    objectName: "connectionState"
                    text: root.connected ? "Connected" : (connectWatch.running ? "Connecting..." : "Not connected")
                    color: Theme.dimText
                    font.pixelSize: Theme.fontSize
                }
                Item {
                    Layout.preferredWidth: Theme.margin
                }
                DefaultToolButton {
                    objectName: "logButton"
                    text: "Log"
                    onClicked: {
                        logWindow.show();
                        logWindow.raise();
                    }
                }
                DefaultToolButton {
                    id: gearButton
                    objectName: "gearButton"
                    iconFile: "Frame.svg"
                    onClicked: gearMenu.open()
                    Menu {
                        id: gearMenu
                        objectName: "gearMenu"
                        y: gearButton.height
                        MenuItem {
                            objectName: "restartItem"
                            text: "Restart"
                            visible: root.hasRestart
                            height: visible ? implicitHeight : 0
                            onTriggered: restartConfirm.open()
                        }
                        MenuItem {
                            objectName: "resetItem"
                            text: "Reset All Settings"
                            visible: root.hasReset
                            height: visible ? implicitHeight : 0
                            onTriggered: resetConfirm.open()
                        }
                        MenuItem {
                            objectName: "exportSnapshotItem"
                            text: "Export Snapshot..."
                            visible: root.connectType === ConnectType.Network
                            height: visible ? implicitHeight : 0
                            onTriggered: snapshotTools.exportSnapshot()
                        }
                        MenuItem {
                            objectName: "importSnapshotItem"
                            text: "Import Snapshot..."
                            visible: root.connectType === ConnectType.Network
                            height: visible ? implicitHeight : 0
                            onTriggered: snapshotTools.importSnapshot()
                        }
                        MenuItem {
                            objectName: "aboutItem"
                            text: "About"
                            onTriggered: aboutWindow.open()
                        }
                    }
                }
            }
        }

        // Connection bar: the fields of the model's connection kind and the connect button.
        ConnectionBar {
            id: connectionBar
            Layout.fillWidth: true
            manager: root.manager
            connectType: root.connectType
            selectedModel: root.selectedModel
            connected: root.connected
            onConnectRequested: root.toggleConnection()
        }

        // While a firmware upgrade runs the sensor takes nothing else: say so above the tabs.
        Rectangle {
            objectName: "upgradeBanner"
            visible: root.manager.IsUpgrading
            Layout.fillWidth: true
            Layout.leftMargin: Theme.margin
            Layout.rightMargin: Theme.margin
            implicitHeight: bannerText.implicitHeight + 12
            color: Theme.warning
            radius: 3
            Text {
                id: bannerText
                objectName: "upgradeBannerText"
                anchors.fill: parent
                anchors.margins: 6
                verticalAlignment: Text.AlignVCenter
                wrapMode: Text.WordWrap
                color: Theme.base
                font.pixelSize: Theme.fontSize
                font.bold: true
                text: "Firmware upgrade in progress. Do not start anything else, disconnect or close DeviceBench until it has ended."
            }
        }

        TabBar {
            id: tabBar
            objectName: "tabBar"
            Layout.fillWidth: true
            Layout.leftMargin: Theme.margin
            Layout.rightMargin: Theme.margin
            background: Rectangle {
                color: Theme.window
            }
            onCurrentIndexChanged: {
                if (root.isTablePage(currentIndex)) {
                    root.manager.setModuleIndexUse(currentIndex);
                    root.readTab(currentIndex);
                }
            }
            Repeater {
                model: root.pageSpecs()
                TabButton {
                    objectName: "tabButton_" + index
                    text: modelData.title
                    width: implicitWidth
                    leftPadding: 18
                    rightPadding: 18
                    font.pixelSize: Theme.fontSize
                    contentItem: Text {
                        text: parent.text
                        font: parent.font
                        color: parent.checked ? Theme.text : Theme.dimText
                        horizontalAlignment: Text.AlignHCenter
                        verticalAlignment: Text.AlignVCenter
                    }
                    background: Rectangle {
                        implicitHeight: 38
                        color: parent.checked ? Theme.button : (parent.hovered ? Theme.dark : Theme.window)
                        Rectangle {
                            anchors.bottom: parent.bottom
                            width: parent.width
                            height: 2
                            color: parent.parent.checked ? Theme.accent : "transparent"
                        }
                    }
                }
            }
        }
        Rectangle {
            Layout.fillWidth: true
            height: 1
            color: Theme.midlight
        }

        StackLayout {
            id: pages
            objectName: "pages"
            Layout.fillWidth: true
            Layout.fillHeight: true
            currentIndex: tabBar.currentIndex
            Repeater {
                model: root.pageSpecs()
                Loader {
                    objectName: "tabPage_" + index
                    readonly property var spec: modelData
                    sourceComponent: {
                        switch (modelData.kind) {
                        case "table":
                            return tablePage;
                        case "log":
                            return logPage;
                        case "minka":
                            return minkaPage;
                        default:
                            return commandPage;
                        }
                    }
                }
            }
        }
    }

    Component {
        id: tablePage
        TabWidget {
            manager: root.manager
            level1Index: parent.spec.index
            rows: root.level2List[parent.spec.index] || []
            pageMap: root.myMap[parent.spec.index] || []
            fovList: root.manager.FovList
            onSaveRequested: root.save(level1)
            onCancelRequested: root.cancel(level1)
            onRefused: root.manager.setErrorMsg(message)
        }
    }
    Component {
        id: logPage
        LogDownloadPage {
            manager: root.manager
            logNames: root.manager.logRepeaterModel
            onRefused: messageWindow.show(message)
        }
    }
    Component {
        id: minkaPage
        Minka {
            manager: root.manager
            modelName: root.selectedModel
            onRefused: root.manager.setErrorMsg(message)
        }
    }
    Component {
        id: commandPage
        GetCmdWidget {
            manager: root.manager
            onRefused: root.manager.setErrorMsg(message)
        }
    }

    LoadingWidget {
        id: loading
        objectName: "loadingWidget"
        anchors.fill: parent
        running: false
    }
    LoadingWidget {
        objectName: "connectingWidget"
        anchors.fill: parent
        running: connectWatch.running
        text: "Connecting to lidar..."
    }

    MessageWindow {
        id: messageWindow
        objectName: "messageWindow"
    }
    ErrorInfoWindow {
        id: errorWindow
        objectName: "errorWindow"
    }
    SuccessInfoWindow {
        id: successWindow
        objectName: "successWindow"
    }
    MessageWindow {
        id: rangeConfirmWindow
        objectName: "rangeConfirmWindow"
        property int pendingPage: -1
        title: "Out of range"
        accentColor: Theme.warning
        acceptText: "Continue"
        rejectText: "Cancel"
        onAccepted: root.writePage(pendingPage)
    }
    MessageWindow {
        id: restartConfirm
        objectName: "restartConfirm"
        title: "Restart"
        text: "Do you want to Restart the Lidar?"
        acceptText: "Restart"
        rejectText: "Cancel"
        onAccepted: {
            if (!root.connected) {
                root.manager.setErrorMsg("Please connect to lidar first");
                return;
            }
            if (root.manager.Restart() === 0)
                root.logOwn("Restart accepted; the lidar is rebooting.", "SUCCESS");
        }
    }
    MessageWindow {
        id: resetConfirm
        objectName: "resetConfirm"
        title: "Reset All Settings"
        text: "Do you want to Reset All Settings?"
        acceptText: "Reset"
        rejectText: "Cancel"
        onAccepted: {
            if (!root.connected) {
                root.manager.setErrorMsg("Please connect to lidar first");
                return;
            }
            if (root.manager.Reset() === 0)
                root.logOwn("Reset accepted; the lidar is restoring its settings.", "SUCCESS");
        }
    }
    SnapshotTools {
        id: snapshotTools
        anchors.fill: parent
        manager: root.manager
        onRefused: messageWindow.show(message)
    }
    AboutWindow {
        id: aboutWindow
        objectName: "aboutWindow"
    }
    LogWindow {
        id: logWindow
        manager: root.manager
        objectName: "logWindow"
    }
}
