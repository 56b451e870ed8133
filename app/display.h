#pragma once

/// Before the application object exists, in every program that shows the window:
/// - the window scales with the display's scaling factor (125 %, 150 %, 200 %) exactly, so that
///   its fixed size holds its text at any font size;
/// - top-level widgets are plain raster windows. Nothing here draws with OpenGL, and a window
///   that could host OpenGL child widgets makes the platform load its OpenGL driver when the
///   first window is created: under X11 that took about half of the time to the first frame.
void prepareDisplay();
