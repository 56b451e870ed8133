#include "app/appsetup.h"

#include "app/terminationsignals.h"

#include <QApplication>
#include <QEvent>
#include <QFont>
#include <QIcon>
#include <QTimer>
#include <QWidget>

namespace {

// Decoding the icon file (ten images, the largest PNG-compressed) takes several milliseconds;
// the window shows its first frame without waiting for it.
class IconAfterFirstFrame : public QObject
{
public:
    explicit IconAfterFirstFrame(QWidget *window)
        : QObject(window)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, [this] {
                QApplication::setWindowIcon(QIcon(QStringLiteral(":/logos/icon.ico")));
                deleteLater();
            });
        }
        return false;
    }
};

} // namespace

void prepareDisplayScaling()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    // Pass-through: 125 % and 150 % scale by 1.25 and 1.5, not rounded to 1 or 2.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}

void prepareApplication(QApplication &app, QWidget &mainWindow)
{
    // The window's destructor closes the port, and with it goes the port's lock file.
    watchTerminationSignals(&app, [] { QCoreApplication::quit(); });
#ifdef Q_OS_WIN
    // The executable's own icon resource serves as the window icon.
    Q_UNUSED(mainWindow)
#else
    new IconAfterFirstFrame(&mainWindow);
    // The About pages ask for Windows' dialog font alias; elsewhere take the font it stands for
    // or one of its width, so that the pages keep their Windows line breaks.
    QFont::insertSubstitutions(QStringLiteral("MS Shell Dlg 2"),
                               {QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
                                QStringLiteral("DejaVu Sans Condensed")});
#endif
}
