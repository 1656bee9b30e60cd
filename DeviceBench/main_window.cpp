#include "DeviceBench/main_window.h"

#include <QDir>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QQmlContext>
#include <QQuickView>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>

#include "DeviceBench/page_types.h"
#include "DeviceBenchCore/manager/device_bench_manager.h"

// Resources compiled into a static library are registered by name; outside any namespace.
static void InitQmlResources() {
    Q_INIT_RESOURCE(devicebench_qml);
}

namespace {

const char* const kDefaultTable = "./Config/varID/Corvel.csv";
const char* const kDefaultModel = "Corvel";
const char* const kMainQml = "qrc:/Qml/main.qml";
constexpr int kFormWidthPx = 1150;
constexpr int kFormHeightPx = 700;
constexpr int kViewMinWidthPx = 1300;
constexpr int kViewMinHeightPx = 800;
constexpr int kLayoutSpacingPx = 6;
constexpr int kLayoutMarginPx = 11;

}  // namespace

MainWindow::MainWindow(QWidget* parent, const QString& module_name) : QMainWindow(parent) {
    BuildForm();

    view_ = new QQuickView();
    manager_ = DeviceBenchManager::GetInstance(true, kDefaultTable);
    manager_->InitConfigFileParser(kDefaultModel);
    manager_->SetModuleName(module_name.toStdString());

    QWidget* container = QWidget::createWindowContainer(view_, centralWidget());
    container->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    container->setMinimumSize(kViewMinWidthPx, kViewMinHeightPx);
    container->setFocusPolicy(Qt::TabFocus);
    view_->setColor(palette().color(QPalette::Window));
    LoadPages(*view_, *manager_);
    findChild<QHBoxLayout*>("horizontalLayout3D")->addWidget(container);
}

MainWindow::~MainWindow() {
    // The container owns the view; the pages must go before the manager they bind to.
    delete centralWidget();
    delete manager_;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (manager_ != nullptr && manager_->IsUpgrading()) {
        const auto answer = QMessageBox::question(
            this, "Firmware upgrade in progress",
            "A firmware upgrade is running. Closing DeviceBench now stops it half way, and the "
            "lidar may stay in its boot loader until it is upgraded again.\n\nClose anyway?",
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            event->ignore();
            return;
        }
    }
    QMainWindow::closeEvent(event);
}

void MainWindow::LoadPages(QQuickView& view, DeviceBenchManager& manager) {
    InitQmlResources();
    RegisterPageTypes();
    view.setResizeMode(QQuickView::SizeRootObjectToView);
    QQmlContext* context = view.rootContext();
    context->setContextProperty("device_bench_manager", &manager);
    context->setContextProperty("installRoot",
                                QUrl::fromLocalFile(QDir::currentPath() + "/").toString());
    view.setSource(QUrl(kMainQml));
}

void MainWindow::BuildForm() {
    setObjectName("MainWindow");
    resize(kFormWidthPx, kFormHeightPx);
    auto* central = new QWidget(this);
    central->setObjectName("centralWidget");
    auto* outer = new QHBoxLayout(central);
    outer->setObjectName("horizontalLayout");
    outer->setSpacing(kLayoutSpacingPx);
    outer->setContentsMargins(kLayoutMarginPx, kLayoutMarginPx, kLayoutMarginPx, kLayoutMarginPx);
    auto* column = new QVBoxLayout();
    column->setObjectName("verticalLayout");
    column->setSpacing(kLayoutSpacingPx);
    auto* row = new QHBoxLayout();
    row->setObjectName("horizontalLayout3D");
    row->setSpacing(kLayoutSpacingPx);
    column->addLayout(row);
    outer->addLayout(column);
    setCentralWidget(central);
    setWindowTitle("DeviceBench");
}
