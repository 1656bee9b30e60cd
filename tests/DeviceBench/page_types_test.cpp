// The enum names the pages use stand for the numbers the manager means: each model's connection
// kind, and SetText's edit kinds, both from QML and from C++.
#include <gtest/gtest.h>

#include <QQmlComponent>
#include <QQmlEngine>
#include <QVariantList>

#include <memory>

#include "DeviceBench/connect_type.h"
#include "DeviceBench/edit_kind.h"
#include "DeviceBench/page_types.h"
#include "DeviceBenchCore/manager/device_bench_manager.h"

namespace {

constexpr int kTextFieldElement = 1;

TEST(PageTypes, ConnectTypeNames_MatchEachModelsKind) {
    DeviceBenchManager manager(true, DeviceBenchManager::kDefaultTablePath);
    const std::pair<const char*, ConnectType::Kind> models[] = {
        {"Corvel", ConnectType::Network},
        {"Tovin", ConnectType::Network},
        {"Minka", ConnectType::SerialLines},
        {"Minka-CMX", ConnectType::SerialOverCmx},
        {"Rusko-CMX", ConnectType::SerialOverCmx}};
    for (const auto& model : models) {
        manager.InitConfigFileParser(model.first);
        EXPECT_EQ(manager.connectType(), model.second) << model.first;
    }
}

TEST(PageTypes, EnumsFromQml_GiveTheManagersNumbers) {
    RegisterPageTypes();
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData(
        "import QtQml 2.15\nimport DeviceBench 1.0\nQtObject {\n"
        "  property var kinds: [ConnectType.Network, ConnectType.SerialLines,\n"
        "    ConnectType.SerialOverCmx, EditKind.Text, EditKind.Switch,\n"
        "    EditKind.Option]\n}\n",
        QUrl());
    std::unique_ptr<QObject> object(component.create());
    ASSERT_NE(object, nullptr) << component.errorString().toStdString();
    const QVariantList kinds = object->property("kinds").toList();
    ASSERT_EQ(kinds.size(), 6);
    EXPECT_EQ(kinds[0].toInt(), 0);
    EXPECT_EQ(kinds[1].toInt(), 1);
    EXPECT_EQ(kinds[2].toInt(), 2);
    EXPECT_EQ(kinds[3].toInt(), 1);
    EXPECT_EQ(kinds[4].toInt(), 2);
    EXPECT_EQ(kinds[5].toInt(), 3);
}

TEST(PageTypes, EditKindText_RecordsTheEditOfAWritableTextField) {
    DeviceBenchManager manager(true, DeviceBenchManager::kDefaultTablePath);
    manager.InitConfigFileParser("Corvel");
    manager.ClearSetMap();
    // Read-only fields record nothing; the first writable one fills the set map.
    for (const QVariant& page : manager.level2List()) {
        for (const QVariant& entry : page.toList()) {
            const QVariantList row = entry.toList();
            if (row.size() < 5 || row[1].toInt() != kTextFieldElement) continue;
            manager.SetText(EditKind::Text, row[2].toInt(), row[3].toInt(), row[4].toInt(),
                            "12");
            if (manager.getSetMapSize() > 0) return;
        }
    }
    FAIL() << "no text field edit of kind EditKind::Text was recorded";
}

}  // namespace
