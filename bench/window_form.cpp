// A Designer form and nothing else: the form NAME (forms/NAME.ui) built by the code uic makes of
// it and shown, on the display set up as the window programs set it up (prepareDisplay()), with
// the time stamps of window_tool.cpp and the same "--idle SECONDS" option. It is the floor of a
// window built from that form: its widgets, fonts and style, and none of the program's own work.
//
// Usage: bench-window-form NAME [--idle SECONDS]

#include "app/display.h"
#include "benchprobe.h"
#include "window_form_list.h"

#include <QApplication>
#include <QWidget>

#include <cstdio>
#include <cstring>

int main(int argc, char *argv[])
{
    const qint64 entered = BenchProbe::realtimeNs();
    const BenchForm *form = nullptr;
    for (const BenchForm *candidate = benchForms; candidate->name; ++candidate)
        if (argc > 1 && std::strcmp(argv[1], candidate->name) == 0)
            form = candidate;
    if (!form) {
        std::fprintf(stderr, "usage: %s NAME [--idle SECONDS]; NAME is one of:", argv[0]);
        for (const BenchForm *candidate = benchForms; candidate->name; ++candidate)
            std::fprintf(stderr, " %s", candidate->name);
        std::fprintf(stderr, "\n");
        return 2;
    }

    prepareDisplay();
    QApplication app(argc, argv);
    const qint64 appReady = BenchProbe::realtimeNs();
    QWidget *window = form->build();
    const qint64 built = BenchProbe::realtimeNs();
    new FirstPaintProbe(window, FirstPaintProbe::idleSecondsFromArguments());
    window->show();

    BenchProbe::report("main_ns", entered);
    BenchProbe::report("app_ns", appReady);
    BenchProbe::report("built_ns", built);
    const int status = app.exec();
    delete window;
    return status;
}
