#pragma once

class QApplication;
class QWidget;

/// What the program sets up around its main window besides the window itself: an end on SIGINT,
/// SIGTERM and SIGHUP as if the window were closed; the port closed as the application is about
/// to quit (the last moment a Windows logoff leaves); outside Windows, the window icon (once the
/// window has painted its first frame) and the About pages' font.
void prepareApplication(QApplication &app, QWidget &mainWindow);
