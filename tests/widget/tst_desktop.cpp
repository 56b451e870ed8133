// The window and the About dialog on the desktops they meet: a display scaled to 125-200 % (run
// under Xvfb at the -dpi CTest gives), and a dark theme.

#include "app/devicestate.h"
#include "app/display.h"
#include "app/mainwindow.h"
#include "forms/aboutdialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTextEdit>

#include <cmath>
#include <memory>

namespace {

double luminance(const QColor &color)
{
    const auto channel = [](int value) {
        const double v = value / 255.0;
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(color.red()) + 0.7152 * channel(color.green())
        + 0.0722 * channel(color.blue());
}

double contrast(const QColor &a, const QColor &b)
{
    const double x = luminance(a), y = luminance(b);
    return (qMax(x, y) + 0.05) / (qMin(x, y) + 0.05);
}

// A dark desktop theme: light text on dark backgrounds.
QPalette darkPalette()
{
    QPalette dark(QColor(60, 60, 60), QColor(40, 40, 40));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(role, QColor(225, 225, 225));
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 120, 120));
    dark.setColor(QPalette::Disabled, QPalette::Text, QColor(120, 120, 120));
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::Highlight, QColor(200, 200, 200));
    dark.setColor(QPalette::HighlightedText, QColor(250, 250, 250));
    return dark;
}

std::unique_ptr<QWidget> build(const QString &which)
{
    std::unique_ptr<QWidget> widget;
    if (which == QLatin1String("window")) {
        resetDeviceState();
        widget = std::make_unique<MainWindow>();
    } else {
        widget = std::make_unique<aboutDialog>();
    }
    widget->show();
    if (!QTest::qWaitForWindowExposed(widget.get()))
        qWarning("%s not exposed", qPrintable(which));
    return widget;
}

} // namespace

class DesktopTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setPalette(darkPalette()); }
    void textFits_data() { rows(); }
    void textFits();
    void textContrasts_data() { rows(); }
    void textContrasts();

private:
    static void rows()
    {
        QTest::addColumn<QString>("which");
        QTest::newRow("main window") << QStringLiteral("window");
        QTest::newRow("About dialog") << QStringLiteral("about");
    }
};

void DesktopTest::textFits()
{
    QFETCH(QString, which);
    const auto widget = build(which);
    for (const QLabel *label : widget->findChildren<QLabel *>()) {
        if (!label->text().isEmpty())
            QVERIFY2(label->width() >= label->fontMetrics().horizontalAdvance(label->text()),
                     qPrintable(label->objectName()));
    }
    // Push, radio and check buttons: the size hint holds the text and the frame or indicator.
    for (const QAbstractButton *button : widget->findChildren<QAbstractButton *>())
        QVERIFY2(button->width() >= button->sizeHint().width(),
                 qPrintable(QStringLiteral("%1: %2 < %3")
                                .arg(button->objectName())
                                .arg(button->width())
                                .arg(button->sizeHint().width())));
}

void DesktopTest::textContrasts()
{
    QFETCH(QString, which);
    const auto widget = build(which);
    const auto check = [](const QWidget *w, QPalette::ColorRole text, QPalette::ColorRole ground) {
        const auto group = w->isEnabled() ? QPalette::Active : QPalette::Disabled;
        const double ratio
            = contrast(w->palette().color(group, text), w->palette().color(group, ground));
        QVERIFY2(ratio >= 4.5,
                 qPrintable(QStringLiteral("%1: %2 : 1").arg(w->objectName()).arg(ratio)));
    };
    for (const QWidget *w : widget->findChildren<QWidget *>()) {
        if (qobject_cast<const QLineEdit *>(w) || qobject_cast<const QTextEdit *>(w)) {
            check(w, QPalette::Text, QPalette::Base);
            check(w, QPalette::HighlightedText, QPalette::Highlight);
        } else if (qobject_cast<const QLabel *>(w) || w->inherits("QRadioButton")
                   || w->inherits("QCheckBox") || w->inherits("QGroupBox")) {
            check(w, QPalette::WindowText, QPalette::Window);
        } else if (w->inherits("QPushButton") || w->inherits("QComboBox")) {
            check(w, QPalette::ButtonText, QPalette::Button);
        } else if (w->inherits("QMenuBar")) {
            check(w, QPalette::ButtonText, QPalette::Window);
        }
    }
}

int main(int argc, char *argv[])
{
    prepareDisplay();
    QApplication app(argc, argv);
    DesktopTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktop.moc"
