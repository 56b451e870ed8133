#include "app/display.h"

#include <QGuiApplication>

void prepareDisplay()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    // Pass-through: 125 % and 150 % scale by 1.25 and 1.5, not rounded to 1 or 2.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QCoreApplication::setAttribute(Qt::AA_ForceRasterWidgets);
}
