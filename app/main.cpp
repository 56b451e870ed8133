#include "app/mainwindow.h"

#include <QApplication>
#include <QFont>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
#ifndef Q_OS_WIN
    // On Windows the executable's own icon resource serves as the window icon.
    app.setWindowIcon(QIcon(QStringLiteral(":/logos/icon.ico")));
    // The About pages ask for Windows' dialog font alias; elsewhere take the font it stands for
    // or one of its width, so that the pages keep their Windows line breaks.
    QFont::insertSubstitutions(QStringLiteral("MS Shell Dlg 2"),
                               {QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
                                QStringLiteral("DejaVu Sans Condensed")});
#endif
    MainWindow window;
    window.show();
    return app.exec();
}
