#include "DeviceBench/scene_graph_backend.h"

#include <QDebug>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QQuickWindow>
#include <QSGRendererInterface>

bool OpenGlAvailable() {
    QOpenGLContext context;
    if (!context.create()) {
        return false;
    }
    // Some remote desktops hand out a context that cannot be made current on any surface.
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface)) {
        return false;
    }
    context.doneCurrent();
    return true;
}

bool ChooseSceneGraphBackend() {
    if (!qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND") ||
        !qEnvironmentVariableIsEmpty("QMLSCENE_DEVICE")) {
        return false;
    }
    if (OpenGlAvailable()) {
        return false;
    }
    QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
    qWarning() << "[DeviceBench] no OpenGL context available: using the Qt Quick software renderer";
    return true;
}
