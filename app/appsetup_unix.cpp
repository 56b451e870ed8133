#include "app/appsetup_p.h"

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

void preparePlatform(QWidget &mainWindow)
{
    // Windows takes the window icon from the executable's icon resource; here it is given.
    new IconAfterFirstFrame(&mainWindow);
    // The About pages ask for Windows' dialog font alias; take the font it stands for or one of
    // its width, so that the pages keep their Windows line breaks.
    QFont::insertSubstitutions(QStringLiteral("MS Shell Dlg 2"),
                               {QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
                                QStringLiteral("DejaVu Sans Condensed")});
}
