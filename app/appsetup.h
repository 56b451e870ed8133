#pragma once

class QApplication;
class QWidget;

/// Before the application object exists: the window scales with the display's scaling factor
/// (125 %, 150 %, 200 %) exactly, so that its fixed size holds its text at any font size.
void prepareDisplayScaling();

/// What the program sets up around its main window besides the window itself: an end on SIGINT,
/// SIGTERM and SIGHUP as if the window were closed; the port closed as the application is about
/// to quit (the last moment a Windows logoff leaves); outside Windows, the window icon (once the
/// window has painted its first frame) and the About pages' font.
void prepareApplication(QApplication &app, QWidget &mainWindow);
