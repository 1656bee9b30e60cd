#pragma once
// MainWindow: the DeviceBench top-level window. Hosts the QML pages in a QQuickView and hands
// them the one DeviceBenchManager as the context property "device_bench_manager".

#include <QMainWindow>
#include <QString>

class DeviceBenchManager;
class QCloseEvent;
class QQuickView;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    //! Builds the form, selects the default model and `module_name` (empty: none forced) and
    //! loads "qrc:/Qml/main.qml"; a missing resource leaves an empty view. UI thread only.
    MainWindow(QWidget* parent, const QString& module_name);
    //! Deletes the view, then the manager (which closes any open connection).
    ~MainWindow() override;

    //! Hands `manager` and the install root to the pages of `view` and loads "qrc:/Qml/main.qml"
    //! (after the working directory was moved to the install root). Used by tests too.
    static void LoadPages(QQuickView& view, DeviceBenchManager& manager);

    //! The view showing the pages; owned by this window.
    QQuickView* View() const { return view_; }
    //! The manager behind the pages; owned by this window.
    DeviceBenchManager* Manager() const { return manager_; }

protected:
    //! While a firmware upgrade runs, asks before closing: closing ends the upgrade half way.
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildForm();

    QQuickView* view_ = nullptr;
    DeviceBenchManager* manager_ = nullptr;
};
