#include "DeviceBench/demo_script.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QImage>
#include <QQuickItem>
#include <QQuickView>
#include <QQuickWindow>
#include <QVariant>

#include <cstdio>

#include "DeviceBench/main_window.h"

namespace {

constexpr int kPollIntervalMs = 100;
constexpr int kSettleMs = 400;
constexpr int kShortLimitMs = 5000;
constexpr int kConnectLimitMs = 20000;
constexpr int kSaveLimitMs = 20000;
// The value the script writes: an in-range edit that the virtual sensor keeps.
const char* const kDemoVariable = "Max Range";
const char* const kDemoValue = "250";
const char* const kDemoOtherValue = "240";  // when the sensor already holds kDemoValue
const char* const kPopups[] = {"messageWindow", "errorWindow", "successWindow",
                               "rangeConfirmWindow", "aboutWindow"};

void Say(const QString& text) {
    std::printf("demo: %s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

QString FileSafe(const QString& text) {
    QString result;
    for (const QChar c : text) {
        result += c.isLetterOrNumber() ? c.toLower() : QChar('-');
    }
    return result;
}

}  // namespace

QObject* FindInPages(QQuickItem* item, const QString& name) {
    if (item == nullptr) {
        return nullptr;
    }
    if (item->objectName() == name) {
        return item;
    }
    // Repeater and Loader children are items without a QObject parent; popups and windows are
    // QObject children without a parent item: both trees are searched.
    if (QObject* child = item->findChild<QObject*>(name, Qt::FindDirectChildrenOnly)) {
        return child;
    }
    for (QQuickItem* child : item->childItems()) {
        if (QObject* found = FindInPages(child, name)) {
            return found;
        }
    }
    return nullptr;
}

DemoOptions DemoOptions::FromArguments(int argc, char* argv[]) {
    DemoOptions options;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg.startsWith("--demo-script=")) {
            options.enabled = true;
            options.output_dir = arg.mid(static_cast<int>(qstrlen("--demo-script=")));
        } else if (arg == "--demo-connect") {
            options.enabled = true;
            options.connect = true;
        } else if (arg.startsWith("--demo-scale=")) {
            bool ok = false;
            const double scale = arg.mid(static_cast<int>(qstrlen("--demo-scale="))).toDouble(&ok);
            options.scale = ok && scale > 0.0 ? scale : 0.0;
        }
    }
    return options;
}

DemoScript::DemoScript(MainWindow& window, const QString& output_dir)
    : window_(window), output_dir_(output_dir) {
    poll_.setInterval(kPollIntervalMs);
    connect(&poll_, &QTimer::timeout, this, &DemoScript::Poll);
}

void DemoScript::Start() {
    Add("the pages to load", [this] { return Root() != nullptr; }, [] {}, kShortLimitMs);
    if (output_dir_.isEmpty()) {
        Add("the connect button", nullptr, [this] { Call(Root(), "toggleConnection"); },
            kShortLimitMs);
    } else {
        if (!QDir().mkpath(output_dir_)) {
            Fail("cannot create " + output_dir_);
            return;
        }
        Add("the first picture", nullptr, [this] { Grab("01-start.png"); }, kShortLimitMs);
        AddConnectSteps("02-connected");
        Add("the tab list", nullptr, [this] { AddTabSteps(); }, kShortLimitMs);
    }
    step_started_ms_ = QDateTime::currentMSecsSinceEpoch();
    poll_.start();
}

void DemoScript::Add(const QString& what, Condition ready, Action action, int limit_ms) {
    steps_.append(Step{what, std::move(ready), std::move(action), limit_ms});
}

void DemoScript::Poll() {
    if (current_ >= steps_.size()) {
        Finish();
        return;
    }
    const qint64 elapsed = QDateTime::currentMSecsSinceEpoch() - step_started_ms_;
    const Step& step = steps_.at(current_);
    if (elapsed < kSettleMs) {
        return;
    }
    if (step.ready && !step.ready()) {
        if (elapsed > step.limit_ms) {
            Fail("timed out waiting for " + step.what);
        }
        return;
    }
    const Action action = step.action;
    ++current_;
    step_started_ms_ = QDateTime::currentMSecsSinceEpoch();
    action();
}

void DemoScript::Fail(const QString& why) {
    poll_.stop();
    Say("FAILED: " + why);
    QCoreApplication::exit(1);
}

void DemoScript::Finish() {
    poll_.stop();
    if (output_dir_.isEmpty()) {
        Say("connected; the program keeps running");
        return;
    }
    Say("wrote " + QString::number(pictures_.size()) + " pictures to " +
        QDir(output_dir_).absolutePath() + ":");
    for (const QString& picture : pictures_) {
        Say("  " + picture);
    }
    QCoreApplication::exit(0);
}

QQuickItem* DemoScript::Root() const { return window_.View()->rootObject(); }

QObject* DemoScript::Find(const QString& name) const { return FindInPages(Root(), name); }

bool DemoScript::Busy() const { return Root() != nullptr && Root()->property("busy").toBool(); }

bool DemoScript::Connected() const {
    return Root() != nullptr && Root()->property("connected").toBool();
}

bool DemoScript::PopupOpen(const QString& name) const {
    QObject* popup = Find(name);
    return popup != nullptr && popup->property("visible").toBool();
}

void DemoScript::ClosePopups() {
    for (const char* name : kPopups) {
        if (PopupOpen(name)) {
            Call(Find(name), "close");
        }
    }
}

void DemoScript::Grab(const QString& file_name) { GrabWindow(window_.View(), file_name); }

void DemoScript::GrabWindow(QQuickWindow* window, const QString& file_name) {
    const QString path = QDir(output_dir_).filePath(file_name);
    const QImage image = window == nullptr ? QImage() : window->grabWindow();
    if (image.isNull() || !image.save(path)) {
        Fail("could not write " + path);
        return;
    }
    pictures_.append(file_name);
}

void DemoScript::Call(QObject* target, const char* method, const QVariant& argument) {
    const bool ok = argument.isValid()
                        ? QMetaObject::invokeMethod(target, method, Q_ARG(QVariant, argument))
                        : QMetaObject::invokeMethod(target, method);
    if (!ok) {
        Fail(QString("could not call ") + method);
    }
}

void DemoScript::AddConnectSteps(const QString& label) {
    Add("the connect button", nullptr,
        [this, label] {
            Say(label + ": connecting to " + Root()->property("manager").value<QObject*>()
                                                 ->property("ip_address").toString());
            Call(Root(), "toggleConnection");
        },
        kShortLimitMs);
    Add("the connection", [this] { return Connected() && !Busy(); },
        [this, label] {
            Grab(label + ".png");
            if (PopupOpen("messageWindow")) {
                Say(label + ": " + Find("messageWindow")->property("text").toString());
            }
            ClosePopups();
        },
        kConnectLimitMs);
}

void DemoScript::AddTabSteps() {
    const QVariantList tabs = Root()->property("level1List").toList();
    const QVariantList rows = Root()->property("level2List").toList();
    for (int page = 0; page < tabs.size(); ++page) {
        const QString name = tabs.at(page).toString();
        Add("tab " + name, nullptr,
            [this, page] { Find("tabBar")->setProperty("currentIndex", page); }, kShortLimitMs);
        Add("the read of " + name, [this] { return !Busy(); },
            [this, page, name] {
                Say("read tab " + name);
                Grab(QString("tab-%1-%2.png").arg(page, 2, 10, QChar('0')).arg(FileSafe(name)));
            },
            kSaveLimitMs);
        for (const QVariant& row_value : rows.value(page).toList()) {
            const QVariantList row = row_value.toList();
            if (row.size() >= 5 && row.at(1).toInt() == 1 &&
                row.at(0).toString().startsWith(kDemoVariable)) {
                edit_page_ = page;
                edit_field_ = QString("field_%1_%2_%3")
                                  .arg(row.at(2).toInt())
                                  .arg(row.at(3).toInt())
                                  .arg(row.at(4).toInt());
            }
        }
    }
    Add("the command tab", nullptr,
        [this, tabs] { Find("tabBar")->setProperty("currentIndex", tabs.size()); },
        kShortLimitMs);
    Add("the command tab to show", nullptr, [this] { Grab("tab-send-cmx-command.png"); },
        kShortLimitMs);
    if (edit_page_ < 0) {
        Fail(QString("the table has no text row named ") + kDemoVariable);
        return;
    }
    AddEditSteps();
}

void DemoScript::AddEditSteps() {
    Add("the edited tab", nullptr,
        [this] { Find("tabBar")->setProperty("currentIndex", edit_page_); }, kShortLimitMs);
    Add("the edit", [this] { return !Busy() && Find(edit_field_) != nullptr; },
        [this] {
            QObject* field = Find(edit_field_);
            const QString before = field->property("text").toString();
            edit_value_ = before == kDemoValue ? kDemoOtherValue : kDemoValue;
            Say(QString("edit %1: %2 -> %3").arg(kDemoVariable, before, edit_value_));
            field->setProperty("text", edit_value_);
            Call(field, "textEdited");
            Grab("edit.png");
            Call(Root(), "save", edit_page_);
        },
        kSaveLimitMs);
    Add("the save", [this] { return !Busy() && (PopupOpen("successWindow") || PopupOpen("errorWindow")); },
        [this] {
            Grab("saved.png");
            if (PopupOpen("errorWindow")) {
                Fail("save failed: " + Find("errorWindow")->property("text").toString());
                return;
            }
            Say("save: " + Find("successWindow")->property("text").toString().section('\n', 0, 0));
            ClosePopups();
        },
        kSaveLimitMs);
    AddConnectSteps("reconnected");
    Add("the re-read tab", nullptr,
        [this] {
            Find("tabBar")->setProperty("currentIndex", 0);
            Find("tabBar")->setProperty("currentIndex", edit_page_);
        },
        kShortLimitMs);
    Add("the re-read", [this] { return !Busy() && Find(edit_field_) != nullptr; },
        [this] {
            const QString value = Find(edit_field_)->property("text").toString();
            Grab("reread.png");
            if (value != edit_value_) {
                Fail(QString("re-read shows %1 instead of %2").arg(value, edit_value_));
                return;
            }
            Say(QString("re-read %1 from the sensor: %2").arg(kDemoVariable, value));
        },
        kSaveLimitMs);
    Add("the log window", nullptr,
        [this] {
            QObject* log = Root()->property("logWindowObject").value<QObject*>();
            Call(log, "show");
        },
        kShortLimitMs);
    Add("the log window to show",
        [this] {
            auto* log = qobject_cast<QQuickWindow*>(
                Root()->property("logWindowObject").value<QObject*>());
            return log != nullptr && log->isExposed();
        },
        [this] {
            GrabWindow(qobject_cast<QQuickWindow*>(
                           Root()->property("logWindowObject").value<QObject*>()),
                       "log-window.png");
            Call(Find("aboutWindow"), "open");
        },
        kShortLimitMs);
    Add("the about window", nullptr,
        [this] {
            Grab("about.png");
            ClosePopups();
        },
        kShortLimitMs);
}
