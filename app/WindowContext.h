#pragma once

class CMainApp;
class QQmlContext;

// What the window's QML finds in its context: the application object as "mainwindow", the version
// and the HTTP port for the title.
void exposeToWindow(QQmlContext *pContext, CMainApp *pApp);
