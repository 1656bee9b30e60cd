// The pages driven like a user would, against the virtual sensor speaking the Corvel table on a
// loopback port: model list, connect, a tab's rows, edit and save, the out-of-range confirmation,
// the log window. Each test also leaves a picture in the build tree for review.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQuickItem>
#include <QQuickView>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrl>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DeviceBench/demo_script.h"
#include "DeviceBench/main_window.h"
#include "DeviceBenchCore/manager/device_bench_manager.h"
#include "tests/DeviceBench/qt_environment.h"
#include "DeviceBenchCore/table/config_parser.h"
#include "tools/lidar-sim/builtin_handlers.h"
#include "tools/lidar-sim/firmware_sink.h"
#include "tools/lidar-sim/sim_device.h"
#include "tools/lidar-sim/sim_faults.h"
#include "tools/lidar-sim/sim_maintenance.h"
#include "tools/lidar-sim/sim_server.h"
#include "tools/lidar-sim/table_responder.h"

namespace {

using devicebench_test::ScreenshotDir;
using devicebench_test::Spin;
using devicebench_test::SpinFor;
using devicebench_test::TakeWarnings;
using krell::lidar::sim::SimDevice;
using krell::lidar::sim::SimServer;
using krell::lidar::sim::TableResponder;

constexpr int kPointCloudPage = 2;
const char* const kMaxRangeId = "3-3";  // Max Range: uint16, range 1~300, on Point Cloud

class PagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        device_ = std::make_shared<SimDevice>();
        krell::lidar::sim::RegisterBuiltinHandlers(*device_, "Corvel");
        std::string error;
        responder_ = TableResponder::Load("./Config/varID/Corvel.csv", "Corvel", error);
        ASSERT_NE(responder_, nullptr) << error;
        responder_->Install(*device_);
        server_ = std::make_unique<SimServer>(device_);
        ASSERT_TRUE(server_->Start(krell::lidar::sim::SimServerOptions{}));

        manager_ = std::make_unique<DeviceBenchManager>(true, DeviceBenchManager::kDefaultTablePath);
        manager_->InitConfigFileParser("Corvel");
        view_ = std::make_unique<QQuickView>();
        MainWindow::LoadPages(*view_, *manager_);
        view_->resize(1300, 800);
        view_->show();
        ASSERT_NE(Root(), nullptr);
        SpinFor(100);
        TakeWarnings();
    }
    void TearDown() override {
        view_.reset();
        manager_.reset();
        server_->Stop();
        EXPECT_EQ(TakeWarnings(), QStringList());
    }

    QQuickItem* Root() const { return view_->rootObject(); }
    QObject* Find(const QString& name) const { return FindInPages(Root(), name); }
    bool Busy() const { return Root()->property("busy").toBool(); }
    bool Open(const QString& popup) const {
        QObject* object = Find(popup);
        return object != nullptr && object->property("visible").toBool();
    }
    void Click(QObject* button) {
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(QMetaObject::invokeMethod(button, "clicked"));
    }
    void ClickIn(const QString& popup, const QString& button) {
        QObject* box = Find(popup);
        ASSERT_NE(box, nullptr);
        Click(box->findChild<QObject*>(button));
    }

    void Connect() {
        Find("ipField")->setProperty("text", "127.0.0.1");
        Find("portField")->setProperty("text", QString::number(server_->Port()));
        Click(Find("connectButton"));
        ASSERT_TRUE(Spin([&] { return manager_->IsConnected() && !Busy(); }, 15000));
        SpinFor(100);
        if (Open("messageWindow")) {
            connect_notice_ = Find("messageWindow")->property("text").toString();
            QMetaObject::invokeMethod(Find("messageWindow"), "close");
        }
    }
    void ShowTab(int index) {
        Find("tabBar")->setProperty("currentIndex", index);
        ASSERT_TRUE(Spin([&] { return !Busy(); }));
        SpinFor(100);
    }
    void Edit(const QString& field_name, const QString& text) {
        QObject* field = Find(field_name);
        ASSERT_NE(field, nullptr) << field_name.toStdString();
        field->setProperty("text", text);
        ASSERT_TRUE(QMetaObject::invokeMethod(field, "textEdited"));
    }
    void Save(int page) {
        Click(Find("saveButton_" + QString::number(page)));
        ASSERT_TRUE(Spin([&] { return !Busy(); }));
    }
    // A picture for review, where the platform can grab windows (Xvfb; the offscreen software
    // scene graph cannot); nothing is asserted on the pixels.
    void Picture(const QString& name) {
        Spin([&] { return view_->isExposed(); }, 2000);
        SpinFor(100);
        const QImage image = view_->grabWindow();
        if (!image.isNull()) {
            EXPECT_TRUE(image.save(QDir(ScreenshotDir()).filePath(name)));
        }
    }
    std::vector<uint8_t> SensorValue(const std::string& id) const { return responder_->ValueOf(id); }

    std::shared_ptr<SimDevice> device_;
    std::shared_ptr<TableResponder> responder_;
    std::unique_ptr<SimServer> server_;
    std::unique_ptr<DeviceBenchManager> manager_;
    std::unique_ptr<QQuickView> view_;
    QString connect_notice_;  // what the message window said right after connecting
};

TEST_F(PagesTest, ModelList_OffersTheTablesAndSelectsTheDefault) {
    QObject* combo = Find("modelCombo");
    ASSERT_NE(combo, nullptr);
    const QStringList models = combo->property("model").toStringList();
    EXPECT_TRUE(models.contains("Corvel"));
    EXPECT_TRUE(models.contains("Tovin"));
    EXPECT_FALSE(models.contains("Rusko-CMX"));
    EXPECT_EQ(combo->property("currentText").toString(), "Corvel");
    EXPECT_TRUE(combo->property("enabled").toBool());
    Picture("start.png");
}

TEST_F(PagesTest, Connect_DisablesTheConnectionFieldsAndReadsTheIdentity) {
    Connect();
    EXPECT_EQ(Find("connectButton")->property("text").toString(), "Disconnect");
    EXPECT_FALSE(Find("ipField")->property("enabled").toBool());
    EXPECT_FALSE(Find("modelCombo")->property("enabled").toBool());
    EXPECT_EQ(manager_->getLidarSN(), "CV128A2411000137");
    EXPECT_EQ(connect_notice_, "") << "the virtual Corvel's identity fits the Corvel model";
    Picture("connected.png");
    Click(Find("connectButton"));
    EXPECT_TRUE(Spin([&] { return !manager_->IsConnected(); }));
    EXPECT_TRUE(Find("ipField")->property("enabled").toBool());
}

TEST_F(PagesTest, PointCloudTab_ShowsOneRowPerTableElementWithTheSensorsValues) {
    Connect();
    ShowTab(kPointCloudPage);
    const QVariantList rows = manager_->level2List().at(kPointCloudPage).toList();
    const QVariantList page = manager_->myMap().at(kPointCloudPage).toList();
    int elements = 0;
    for (const QVariant& value : rows) {
        const QVariantList row = value.toList();
        if (row.at(1).toInt() == 0) {
            EXPECT_NE(Find("heading_" + row.at(0).toString()), nullptr);
            continue;
        }
        ++elements;
        const QString suffix = QString("%1_%2_%3").arg(row.at(2).toInt()).arg(row.at(3).toInt())
                                   .arg(row.at(4).toInt());
        EXPECT_NE(Find("row_" + suffix), nullptr) << suffix.toStdString();
        const QVariantMap element =
            page.at(row.at(3).toInt()).toList().at(row.at(4).toInt()).toMap();
        if (QObject* field = Find("field_" + suffix)) {
            EXPECT_EQ(field->property("text").toString(), element.value("current_val").toString())
                << suffix.toStdString();
        }
    }
    EXPECT_GE(elements, 10);
    EXPECT_EQ(Find("field_2_0_2")->property("text").toString(), "200");
    Picture("point-cloud.png");
}

TEST_F(PagesTest, EditAndSave_ReachesTheSensorAndClosesTheLink) {
    Connect();
    ShowTab(kPointCloudPage);
    Edit("field_2_0_2", "250");
    // Before Save the page says what it would change.
    const QString pending = "pendingChanges_" + QString::number(kPointCloudPage);
    EXPECT_EQ(Find(pending)->property("text").toString(),
              QString::fromUtf8("1 change to save: Max Range: 200 \u2192 250"));
    Picture("pending-changes.png");
    Save(kPointCloudPage);
    EXPECT_TRUE(Spin([&] { return Open("successWindow"); }));
    EXPECT_EQ(Find(pending)->property("text").toString(), "");
    EXPECT_EQ(SensorValue(kMaxRangeId), (std::vector<uint8_t>{0x00, 0xFA}));
    EXPECT_FALSE(manager_->IsConnected());
    Picture("saved.png");
}

TEST_F(PagesTest, OutOfRangeValue_AsksFirstAndContinueSaves) {
    Connect();
    ShowTab(kPointCloudPage);
    const std::vector<uint8_t> before = SensorValue(kMaxRangeId);
    Edit("field_2_0_2", "400");
    Save(kPointCloudPage);
    ASSERT_TRUE(Open("rangeConfirmWindow"));
    EXPECT_TRUE(Find("rangeConfirmWindow")->property("text").toString().startsWith(
        "The Max Range, set by the user was detected to be outside the range"));
    EXPECT_EQ(SensorValue(kMaxRangeId), before) << "nothing is written before Continue";
    Picture("out-of-range.png");
    ClickIn("rangeConfirmWindow", "acceptButton");
    ASSERT_TRUE(Spin([&] { return !Busy() && Open("successWindow"); }));
    EXPECT_EQ(SensorValue(kMaxRangeId), (std::vector<uint8_t>{0x01, 0x90}));
}

TEST_F(PagesTest, OutOfRangeValue_CancelWritesNothing) {
    Connect();
    ShowTab(kPointCloudPage);
    const std::vector<uint8_t> before = SensorValue(kMaxRangeId);
    Edit("field_2_0_2", "0");
    Save(kPointCloudPage);
    ASSERT_TRUE(Open("rangeConfirmWindow"));
    ClickIn("rangeConfirmWindow", "rejectButton");
    SpinFor(300);
    EXPECT_EQ(SensorValue(kMaxRangeId), before);
    EXPECT_TRUE(manager_->IsConnected());
}

TEST_F(PagesTest, SaveRefusals_NameTheReason) {
    Save(kPointCloudPage);
    ASSERT_TRUE(Spin([&] { return Open("errorWindow"); }));
    EXPECT_EQ(Find("errorWindow")->property("text").toString(), "Please connect to lidar first");
    QMetaObject::invokeMethod(Find("errorWindow"), "close");
    Connect();
    ShowTab(kPointCloudPage);
    Save(kPointCloudPage);
    ASSERT_TRUE(Spin([&] { return Open("messageWindow"); }));
    EXPECT_EQ(Find("messageWindow")->property("text").toString(), "Nothing to be saved");
}

TEST_F(PagesTest, LogWindow_TagsAndColoursEachTypeAndEscapesMarkup) {
    QObject* log = Root()->property("logWindowObject").value<QObject*>();
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->property("title").toString(), "DeviceBench' Log");
    QObject* text = log->findChild<QObject*>("logText");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->property("length").toInt(), QString("Log is ready...").size());
    Connect();
    emit manager_->sendLogMessage("reply <b>bold</b>", "WARNING");
    emit manager_->sendLogMessage("SEND: 07 ", "BYTES");
    emit manager_->sendLogMessage("odd type", "NOTICE");
    emit manager_->sendLogMessage("broken", "ERROR");
    SpinFor(100);
    QString plain;
    QMetaObject::invokeMethod(text, "getText", Q_RETURN_ARG(QString, plain), Q_ARG(int, 0),
                              Q_ARG(int, text->property("length").toInt()));
    const QString rich = text->property("text").toString();
    EXPECT_TRUE(plain.contains(QRegularExpression(
        "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\[INFO\\] Lidar connected")));
    EXPECT_TRUE(plain.contains("[WARNING] reply <b>bold</b>")) << "markup shows as text";
    EXPECT_TRUE(plain.contains("[BYTESFLOW] SEND: 07"));
    EXPECT_TRUE(plain.contains("[INFO] odd type"));
    EXPECT_TRUE(plain.contains("[ERROR] broken"));
    EXPECT_TRUE(rich.contains("#ffa500", Qt::CaseInsensitive));
    EXPECT_TRUE(rich.contains("#ff5050", Qt::CaseInsensitive));
    QMetaObject::invokeMethod(log, "show");
    Spin([&] { return qobject_cast<QQuickWindow*>(log)->isExposed(); }, 2000);
    SpinFor(100);
    const QImage image = qobject_cast<QQuickWindow*>(log)->grabWindow();
    if (!image.isNull()) {
        EXPECT_TRUE(image.save(QDir(ScreenshotDir()).filePath("log-window.png")));
    }
}

}  // namespace

namespace {

TEST_F(PagesTest, ConsoleTab_SendsTheTypedCommandAndListsIt) {
    device_->SetHandler(0x5A, [](const krell::lidar::sim::SimRequest& request) {
        krell::lidar::sim::SimReply reply;
        reply.payload = request.payload;  // echo
        reply.payload.push_back(0xEE);
        return reply;
    });
    Connect();
    const int console_tab = Find("tabBar")->property("count").toInt() - 1;
    ShowTab(console_tab);
    Find("commandField")->setProperty("text", "0x5a");
    Find("payloadField")->setProperty("text", "01  0X0a ff");
    Click(Find("sendButton"));
    ASSERT_TRUE(Spin([&] { return manager_->CommandLogCnt() == 1; }));
    SpinFor(100);
    EXPECT_EQ(Find("returnHeader")->property("text").toString(), "47 74 5A 00 00 00 00 04");
    EXPECT_EQ(Find("returnPayload")->property("text").toString(), "01 0A FF EE");
    EXPECT_EQ(Find("commandLog")->property("count").toInt(), 1);
    Picture("console.png");

    // A payload that names no byte: the error window says which field, the old reply is cleared.
    Find("payloadField")->setProperty("text", "01 zz");
    Click(Find("sendButton"));
    ASSERT_TRUE(Spin([&] { return Open("errorWindow"); }));
    EXPECT_EQ(Find("errorWindow")->property("text").toString(),
              "Incorrect CMX payload was entered. Parsing failed.");
    EXPECT_EQ(Find("returnPayload")->property("text").toString(), "");
    EXPECT_EQ(Find("commandLog")->property("count").toInt(), 1);
}

}  // namespace

namespace {

//! Counts the requests of `cmd` the virtual sensor receives (its handler still answers them).
std::shared_ptr<std::atomic<int>> CountRequests(SimDevice& device, uint8_t cmd) {
    auto count = std::make_shared<std::atomic<int>>(0);
    auto inner = device.HandlerFor(cmd);
    device.SetHandler(cmd, [inner, count](const krell::lidar::sim::SimRequest& request) {
        ++*count;
        return inner(request);
    });
    return count;
}

constexpr uint8_t kCorvelRestart = 0x10;
constexpr uint8_t kCorvelReset = 0x11;

TEST_F(PagesTest, GearMenu_RestartAsksFirstAndResetCancelSendsNothing) {
    const auto restarts = CountRequests(*device_, kCorvelRestart);
    const auto resets = CountRequests(*device_, kCorvelReset);
    Connect();
    Click(Find("gearButton"));
    ASSERT_TRUE(Spin([&] { return Open("gearMenu"); }));
    QObject* restart = Find("gearMenu")->findChild<QObject*>("restartItem");
    QObject* reset = Find("gearMenu")->findChild<QObject*>("resetItem");
    ASSERT_NE(restart, nullptr);
    ASSERT_NE(reset, nullptr);
    EXPECT_TRUE(restart->property("visible").toBool());
    EXPECT_TRUE(reset->property("visible").toBool());
    Picture("gear-menu.png");

    ASSERT_TRUE(QMetaObject::invokeMethod(reset, "triggered"));
    ASSERT_TRUE(Spin([&] { return Open("resetConfirm"); }));
    ClickIn("resetConfirm", "rejectButton");
    SpinFor(200);
    EXPECT_EQ(resets->load(), 0);
    EXPECT_TRUE(manager_->IsConnected());

    ASSERT_TRUE(QMetaObject::invokeMethod(restart, "triggered"));
    ASSERT_TRUE(Spin([&] { return Open("restartConfirm"); }));
    EXPECT_EQ(Find("restartConfirm")->property("text").toString(),
              "Do you want to Restart the Lidar?");
    EXPECT_EQ(restarts->load(), 0) << "nothing is sent before the user agrees";
    Picture("restart-confirm.png");
    ClickIn("restartConfirm", "acceptButton");
    ASSERT_TRUE(Spin([&] { return !manager_->IsConnected(); }));
    EXPECT_EQ(restarts->load(), 1);
    EXPECT_EQ(Find("connectButton")->property("text").toString(), "Connect");
}

TEST_F(PagesTest, LogTab_OperationLogShowsProgressRefusesASecondAndLeavesTheArchive) {
    auto logs = std::make_shared<krell::lidar::sim::SimMaintenance>();
    logs->SetLogBytes(256 * 1024);
    logs->Install(*device_, "Corvel");
    Connect();
    int log_tab = -1;
    for (int i = 0; i < Find("tabBar")->property("count").toInt(); ++i) {
        QObject* button = Find("tabButton_" + QString::number(i));
        if (button && button->property("text").toString().toLower() == "log") log_tab = i;
    }
    ASSERT_GE(log_tab, 0) << "Corvel has a log tab";
    ShowTab(log_tab);
    QObject* page = Find("logDownloadPage");
    ASSERT_NE(page, nullptr);
    EXPECT_FALSE(Find("downloadProgress")->property("visible").toBool());

    // A slow sensor keeps the download going long enough to look at it.
    krell::lidar::sim::SimFaults slow;
    slow.reply_delay_ms = 400;
    server_->SetFaults(slow);
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    const QString path = out.filePath("field-run");
    QSignalSpy finished(manager_.get(), &DeviceBenchManager::downloadOperationLogFinished);
    ASSERT_TRUE(QMetaObject::invokeMethod(page, "downloadArchive",
                                          Q_ARG(QVariant, QUrl::fromLocalFile(path))));
    ASSERT_TRUE(Spin([&] { return Find("downloadProgress")->property("visible").toBool(); }));
    Picture("log-downloading.png");
    Click(Find("operationLogButton"));
    ASSERT_TRUE(Spin([&] { return Open("messageWindow"); }));
    EXPECT_EQ(Find("messageWindow")->property("text").toString(), "Is downloading. Please wait.");
    QMetaObject::invokeMethod(Find("messageWindow"), "close");

    ASSERT_TRUE(Spin([&] { return finished.count() == 1; }, 20000));
    EXPECT_TRUE(finished.at(0).at(0).toBool());
    ASSERT_TRUE(Spin([&] { return Open("successWindow"); }));
    EXPECT_EQ(Find("successWindow")->property("text").toString(),
              "Operation log download successful.");
    EXPECT_FALSE(Find("downloadProgress")->property("visible").toBool());
    EXPECT_TRUE(QFileInfo(path + ".tar").size() > 4 * 256 * 1024);
    Picture("log-downloaded.png");
}

TEST_F(PagesTest, MaintenanceTab_UpgradeShowsFramesAndTimeLeftAndWarnsWhileItRuns) {
    auto sink = std::make_shared<krell::lidar::sim::FirmwareSink>();
    sink->Install(*device_);
    UpgradeTimings timings;
    timings.start_pause_ms = 10;
    timings.restart_wait_ms = 100;
    manager_->SetUpgradeTimings(timings);
    Connect();
    int tab = -1;
    for (int i = 0; i < Find("tabBar")->property("count").toInt(); ++i) {
        QObject* button = Find("tabButton_" + QString::number(i));
        if (button && button->property("text").toString() == "Maintenance") tab = i;
    }
    ASSERT_GE(tab, 0) << "Corvel has a Maintenance tab";
    ShowTab(tab);
    // The upgrade row of the table, by its place.
    ConfigParser table("./Config/varID/Corvel.csv");
    ASSERT_TRUE(table.ExtractConfigInfo());
    QString suffix;
    const auto& pages = table.pages();
    for (size_t j = 0; j < pages[size_t(tab)].size(); ++j)
        for (size_t k = 0; k < pages[size_t(tab)][j].size(); ++k)
            if (pages[size_t(tab)][j][k]->var_name == "Firmware Upgrade")
                suffix = QString("%1_%2_%3").arg(tab).arg(j).arg(k);
    ASSERT_FALSE(suffix.isEmpty());
    QObject* row = Find("row_" + suffix);
    ASSERT_NE(row, nullptr);
    EXPECT_FALSE(Find("upgradeBanner")->property("visible").toBool());

    // Only ".patch" files are taken.
    QTemporaryDir dir;
    QVariant result;
    ASSERT_TRUE(QMetaObject::invokeMethod(row, "upgrade", Q_RETURN_ARG(QVariant, result),
                                          Q_ARG(QVariant, QUrl::fromLocalFile(dir.filePath("fw.bin")))));
    EXPECT_EQ(result.toInt(), -1);
    ASSERT_TRUE(Spin([&] { return Open("errorWindow"); }));
    QMetaObject::invokeMethod(Find("errorWindow"), "close");

    // 40 frames from a slow sensor: long enough to look at the bar half way.
    std::vector<uint8_t> image(40 * 1024);
    for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 7 + i / 1024);
    QFile file(dir.filePath("fw.patch"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(image.data()), qint64(image.size()));
    file.close();
    krell::lidar::sim::SimFaults slow;
    slow.reply_delay_ms = 60;
    server_->SetFaults(slow);
    ASSERT_TRUE(QMetaObject::invokeMethod(row, "upgrade", Q_RETURN_ARG(QVariant, result),
                                          Q_ARG(QVariant, QUrl::fromLocalFile(file.fileName()))));
    EXPECT_EQ(result.toInt(), 0);
    QObject* text = Find("upgradeProgressText_" + suffix);
    ASSERT_NE(text, nullptr);
    const QRegularExpression midway("^([0-9]+) / 40 frames, about [0-9]+ s left$");
    ASSERT_TRUE(Spin([&] {
        const auto match = midway.match(text->property("text").toString());
        return match.hasMatch() && match.captured(1).toInt() >= 5;
    }, 10000)) << text->property("text").toString().toStdString();
    EXPECT_TRUE(Find("upgradeBanner")->property("visible").toBool());
    EXPECT_FALSE(Find("upgradeButton_" + suffix)->property("enabled").toBool());
    Picture("upgrade-running.png");
    // Disconnecting is refused while it runs.
    Click(Find("connectButton"));
    ASSERT_TRUE(Spin([&] { return Open("messageWindow"); }));
    EXPECT_EQ(Find("messageWindow")->property("text").toString(),
              "Disconnect REJECTED. Lidar is upgrading.");
    QMetaObject::invokeMethod(Find("messageWindow"), "close");

    ASSERT_TRUE(Spin([&] { return !manager_->IsUpgrading(); }, 20000));
    SpinFor(100);
    EXPECT_EQ(text->property("text").toString(), "40 / 40 frames");
    EXPECT_DOUBLE_EQ(Find("upgradeProgress_" + suffix)->property("value").toDouble(), 1.0);
    EXPECT_FALSE(Find("upgradeBanner")->property("visible").toBool());
    EXPECT_EQ(sink->Image(), image);
    ASSERT_TRUE(Spin([&] { return Open("successWindow"); }));
    Picture("upgrade-done.png");
    QMetaObject::invokeMethod(Find("successWindow"), "close");
    // The sensor is restarted after the pause and the link ends.
    EXPECT_TRUE(Spin([&] { return !manager_->IsConnected(); }, 5000));
}

TEST_F(PagesTest, SnapshotImport_ListsTheDifferencesBeforeWritingThem) {
    Connect();
    QTemporaryDir out;
    const QString path = out.filePath("good.json");
    ASSERT_EQ(manager_->ExportSnapshot(QUrl::fromLocalFile(path)), 0);
    // The file asks for Max Range 123 where the sensor holds 200; it also holds another
    // address (kept) and another motor speed (read-only).
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QJsonObject snapshot = QJsonDocument::fromJson(file.readAll()).object();
    file.close();
    QJsonArray variables = snapshot["variables"].toArray();
    const std::map<QString, std::pair<QString, QString>> changed = {
        {"Max Range", {"123", "007b"}},
        {"Lidar IP", {"10.0.0.5", "0a000005"}},
        {"Motor Speed", {"1200", "04b0"}}};
    for (int i = 0; i < variables.size(); ++i) {
        QJsonObject entry = variables[i].toObject();
        const auto found = changed.find(entry["name"].toString());
        if (found == changed.end()) continue;
        entry["text"] = found->second.first;
        entry["bytes"] = found->second.second;
        variables[i] = entry;
    }
    snapshot["variables"] = variables;
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QJsonDocument(snapshot).toJson());
    file.close();

    QObject* tools = Find("snapshotTools");
    ASSERT_NE(tools, nullptr);
    ASSERT_TRUE(QMetaObject::invokeMethod(tools, "compareWith",
                                          Q_ARG(QVariant, QUrl::fromLocalFile(path))));
    ASSERT_TRUE(Spin([&] { return Open("snapshotDiff"); }));
    EXPECT_EQ(SensorValue(kMaxRangeId), (std::vector<uint8_t>{0x00, 0xC8}))
        << "nothing is written before the user agrees";
    QObject* summary_text = Find("snapshotDiff")->findChild<QObject*>("snapshotSummary");
    ASSERT_NE(summary_text, nullptr);
    const QString summary = summary_text->property("text").toString();
    EXPECT_TRUE(summary.startsWith("3 values differ")) << summary.toStdString();
    EXPECT_TRUE(summary.endsWith("1 will be written.")) << summary.toStdString();
    Picture("snapshot-diff.png");

    ClickIn("snapshotDiff", "snapshotWriteButton");
    ASSERT_TRUE(Spin([&] { return !Open("snapshotDiff"); }));
    EXPECT_EQ(SensorValue(kMaxRangeId), (std::vector<uint8_t>{0x00, 0x7B}));
    EXPECT_EQ(SensorValue("2-1"), (std::vector<uint8_t>{0xC0, 0xA8, 0x01, 0xC9}));
    EXPECT_FALSE(manager_->IsConnected());  // as after a Save
}

}  // namespace
