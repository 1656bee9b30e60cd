// Every QML file of the program loads offscreen without a single warning or error, both the
// whole page and each assembly component on its own.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickView>
#include <QUrl>

#include <memory>

#include "DeviceBench/main_window.h"
#include "DeviceBench/page_types.h"
#include "DeviceBenchCore/manager/device_bench_manager.h"
#include "tests/DeviceBench/qt_environment.h"

namespace {

using devicebench_test::Spin;
using devicebench_test::SpinFor;
using devicebench_test::TakeWarnings;

QStringList QmlResources() {
    QStringList files;
    QDirIterator it(":/Qml", {"*.qml"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        files.append(it.next());
    }
    files.sort();
    return files;
}

TEST(QmlLoad, MainPage_LoadsWithoutWarnings) {
    DeviceBenchManager manager(true, DeviceBenchManager::kDefaultTablePath);
    manager.InitConfigFileParser("Corvel");
    QQuickView view;
    TakeWarnings();
    MainWindow::LoadPages(view, manager);
    view.resize(1300, 800);
    view.show();
    SpinFor(300);
    EXPECT_EQ(view.status(), QQuickView::Ready);
    EXPECT_TRUE(view.errors().isEmpty());
    EXPECT_EQ(TakeWarnings(), QStringList());
}

TEST(QmlLoad, EveryModel_RebuildsThePagesWithoutWarnings) {
    DeviceBenchManager manager(true, DeviceBenchManager::kDefaultTablePath);
    manager.InitConfigFileParser("Corvel");
    QQuickView view;
    MainWindow::LoadPages(view, manager);
    view.show();
    SpinFor(200);
    TakeWarnings();
    for (const QString model : {"Tovin", "Minka", "Minka-CMX", "Rusko-CMX", "Corvel"}) {
        manager.InitConfigFileParser(model);
        manager.UpdateUI();
        SpinFor(150);
        EXPECT_EQ(TakeWarnings(), QStringList()) << model.toStdString();
    }
}

TEST(QmlLoad, EveryComponent_LoadsOnItsOwnWithTheManagerHandedIn) {
    RegisterPageTypes();
    DeviceBenchManager manager(true, DeviceBenchManager::kDefaultTablePath);
    manager.InitConfigFileParser("Corvel");
    const QStringList files = QmlResources();
    ASSERT_GE(files.size(), 15) << files.join(' ').toStdString();
    for (const QString& file : files) {
        if (file.endsWith("/Theme.qml")) {
            continue;  // a singleton: created through the components that use it
        }
        QQmlEngine engine;
        // No global manager: each component works on the one it is handed.
        engine.rootContext()->setContextProperty(
            "installRoot", QUrl::fromLocalFile(QDir::currentPath() + "/").toString());
        TakeWarnings();
        QQmlComponent component(&engine, QUrl("qrc" + file));
        ASSERT_TRUE(Spin([&] { return !component.isLoading(); }, 5000));
        std::unique_ptr<QObject> object(component.createWithInitialProperties(
            {{"manager", QVariant::fromValue<QObject*>(&manager)}}));
        EXPECT_NE(object, nullptr) << file.toStdString() << component.errorString().toStdString();
        EXPECT_EQ(TakeWarnings(), QStringList()) << file.toStdString();
    }
}

}  // namespace
