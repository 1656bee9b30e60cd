#pragma once
// DemoScript: the scripted run behind `make demo`. Drives the pages the way a user would
// (connect, read every tab, edit one value, save, reconnect and read it back), grabs the window
// and the log window into PNG files and quits the program with 0 on success, 1 on failure.
// Only started by the hidden options below; the normal start path never creates one.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariant>

#include <functional>

class MainWindow;
class QQuickItem;
class QQuickWindow;

//! The first object named `name` in the pages below `item` (items and their QObject children),
//! or null. UI thread.
QObject* FindInPages(QQuickItem* item, const QString& name);

struct DemoOptions {
    bool enabled = false;   // "--demo-script=DIR": run the script, write pictures to DIR
    bool connect = false;   // "--demo-connect": only press Connect once the pages are up
    double scale = 0.0;     // "--demo-scale=S": use S instead of the measured scale factor
    QString output_dir;

    //! Reads the hidden demo options; unknown arguments are left alone.
    static DemoOptions FromArguments(int argc, char* argv[]);
};

class DemoScript : public QObject {
    Q_OBJECT
public:
    //! Works on `window`, which must outlive the script. `output_dir` is created when missing;
    //! empty means connect only (no pictures, the program keeps running). UI thread.
    DemoScript(MainWindow& window, const QString& output_dir);

    //! Starts the steps on the event loop and returns at once.
    void Start();

private:
    using Condition = std::function<bool()>;
    using Action = std::function<void()>;
    struct Step {
        QString what;
        Condition ready;  // the step's action runs once this holds (empty: at once)
        Action action;
        int limit_ms;
    };

    void Add(const QString& what, Condition ready, Action action, int limit_ms);
    void Poll();
    void Fail(const QString& why);
    void Finish();

    QQuickItem* Root() const;
    QObject* Find(const QString& name) const;
    bool Busy() const;
    bool Connected() const;
    bool PopupOpen(const QString& name) const;
    void ClosePopups();
    void Grab(const QString& file_name);
    void GrabWindow(QQuickWindow* window, const QString& file_name);
    void Call(QObject* target, const char* method, const QVariant& argument = QVariant());
    void AddConnectSteps(const QString& label);
    void AddTabSteps();
    void AddEditSteps();

    MainWindow& window_;
    QString output_dir_;
    QList<Step> steps_;
    int current_ = 0;
    qint64 step_started_ms_ = 0;
    QTimer poll_;
    QStringList pictures_;
    int edit_page_ = -1;
    QString edit_field_;
    QString edit_value_;
};
