#pragma once
// Choice of the Qt Quick scene-graph backend. A machine without a usable OpenGL context (a VM,
// a remote desktop, the offscreen platform) would make the first QQuickWindow abort the program,
// so the software renderer is chosen instead, before the QML engine starts.

//! Probes for an OpenGL context that can be made current; when there is none, switches Qt Quick
//! to its software renderer and writes one warning. A backend named by the user
//! (QT_QUICK_BACKEND, QMLSCENE_DEVICE) is left alone. Call once, after the application object
//! exists and before the first QQuickWindow; UI thread. Returns true when the software renderer
//! was chosen here.
bool ChooseSceneGraphBackend();

//! True when an OpenGL context can be created and made current on this platform. UI thread.
bool OpenGlAvailable();
