#pragma once

class QApplication;
class QWidget;

/// What the program sets up around its main window besides the window itself: outside Windows,
/// the window icon (once the window has painted its first frame) and the About pages' font.
void prepareApplication(QApplication &app, QWidget &mainWindow);
