#pragma once

class QWidget;

/// What the window needs from the platform it runs on, once it is built.
void preparePlatform(QWidget &mainWindow);
