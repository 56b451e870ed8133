// The window with the logger's side played by the test over a pseudo-terminal, and the About
// dialog: what the flows against simulated loggers on the virtual USB bench (e2e/) cannot reach.

#include "app/appsetup.h"
#include "app/devicestate.h"
#include "app/mainwindow.h"
#include "device/loggerports.h"
#include "forms/aboutdialog.h"
#include "windowprobe.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QMenu>
#include <QSerialPort>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <fcntl.h>
#include <memory>
#include <pty.h>
#include <unistd.h>

class MainWindowTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<MainWindow> window;
    int logger = -1; // the pseudo-terminal's master: the test is the logger
    QStringList opened; // the addresses the About dialog opened

    QString lastLogEntry() const { return activityLog(window.get()).last(); }
    QByteArray received()
    {
        char buffer[64];
        const ssize_t n = ::read(logger, buffer, sizeof buffer);
        return QByteArray(buffer, int(qMax<ssize_t>(n, 0)));
    }
    // Opens the window's port on a pseudo-terminal and marks it connected, as a scan would.
    void attachLogger()
    {
        int slave = -1;
        char name[64] = {};
        QVERIFY(openpty(&logger, &slave, name, nullptr, nullptr) == 0);
        ::close(slave);
        fcntl(logger, F_SETFL, O_NONBLOCK);
        serialPort->setPortName(QString::fromLocal8Bit(name));
        QVERIFY(serialPort->open(QIODevice::ReadWrite));
        deviceConnected = 1;
        deviceIdentified = 1;
    }

public slots:
    void openUrl(const QUrl &url) { opened << url.toString(); }

private slots:
    void init()
    {
        resetDeviceState();
        // A pseudo-terminal is not listed as a logger's port; it counts as plugged in.
        setPortPresenceProbe([](const QString &) { return true; });
        window = std::make_unique<MainWindow>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void cleanup()
    {
        window.reset();
        ::close(std::exchange(logger, -1));
        setPortPresenceProbe({});
    }

    void setConfiguration_data()
    {
        QTest::addColumn<QString>("link"); // "none", "open" or "closed": as just after an unplug
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("outcome"); // nothing reaches the logger
        QTest::newRow("write failed") << "closed"
                                      << "C off 60 5 00 30 00 10 PDF UTC+05:30"
                                      << "Device Not Configured!";
        // Unusable limits are refused before anything else.
        QTest::newRow("crossed limits") << "open"
                                        << "C on 10 50 00 30 00 10 PDF UTC+05:30"
                                        << "Invalid Temperature value!";
        QTest::newRow("out of range, from a reply, no logger")
            << "none"
            << "C off 999 5 00 30 00 10 PDF UTC+05:30"
            << "Invalid Temperature value!";
    }
    void setConfiguration()
    {
        QFETCH(QString, link);
        QFETCH(QString, settings);
        QFETCH(QString, outcome);
        if (link != QLatin1String("none"))
            attachLogger();
        if (link == QLatin1String("closed"))
            serialPort->close(); // still marked connected
        setForm(window.get(), settings);
        click(window.get(), "setConfigButton");
        QCOMPARE(lastLogEntry(), outcome);
        QTest::qWait(50);
        QVERIFY(logger < 0 || received().isEmpty());
    }

    void lineFailureEndsTheConnection()
    {
        // The line dies while the port is still listed: reads fail, the port is closed at once
        // and the next tick reports the logger gone.
        attachLogger();
        ::close(std::exchange(logger, -1));
        QTRY_VERIFY(!serialPort->isOpen());
        QTRY_COMPARE_WITH_TIMEOUT(lastLogEntry(), QStringLiteral("Disonnected!"), 3000);
        QCOMPARE(deviceConnected, 0);
    }

    void endOfSessionClosesThePort()
    {
        // A Windows logoff ends the process right after aboutToQuit, before any destructor.
        attachLogger();
        prepareApplication(*qApp, *window);
        QMetaObject::invokeMethod(qApp, "aboutToQuit");
        QVERIFY2(!serialPort->isOpen(), "the port is still open at the end of the session");
        QTest::qWait(50);
        QVERIFY(received().isEmpty());
    }

    void zoneChangeUpdatesTheClockAtOnce()
    {
        const auto clockIn = [this](const char *zone) {
            namedChild<QComboBox>(window.get(), "timezoneHours")->setCurrentText(zone);
            return QDateTime::fromString(textOf(window.get(), "systemTime"),
                                         QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        };
        const QDateTime east = clockIn("UTC+14:00");
        const QDateTime west = clockIn("UTC-12:00");
        // 26 hours apart, give or take the second that may have passed in between.
        QVERIFY(qAbs(west.secsTo(east) - 26 * 3600) <= 1);
    }

    void aboutFromTheMenu()
    {
        // The dialog opens as a modal child of the window, its pictures load from the resource
        // bundle, and a click on a logo opens its address.
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
        QStringList pictures;
        bool modalChild = false;
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<aboutDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            modalChild = dialog->parent() == window.get();
            const QString image(QChar::ObjectReplacementCharacter);
            for (QTextBrowser *pane : dialog->findChildren<QTextBrowser *>()) {
                QTextDocument *page = pane->document();
                for (QTextCursor at = page->find(image); !at.isNull(); at = page->find(image, at)) {
                    const QString name = at.charFormat().toImageFormat().name();
                    const QVariant data = pane->loadResource(QTextDocument::ImageResource, name);
                    if (!QImage::fromData(data.toByteArray()).isNull())
                        pictures << name;
                    const QRect end = pane->cursorRect(at); // just past the picture
                    QTest::mouseClick(pane->viewport(), Qt::LeftButton, {},
                                      QPoint(end.left() - 8, end.center().y()));
                }
            }
            dialog->reject();
        });
        emit namedChild<QMenu>(window.get(), "menuAbout")->aboutToShow();
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QVERIFY(modalChild);
        pictures.sort();
        QCOMPARE(pictures,
                 QStringList(
                     {":/logos/iconLogo.png", ":/logos/orrinLogo.png", ":/logos/pellamLogo.png"}));
        QCOMPARE(opened, QStringList({"https://tempyra.example/", "https://pellam.example/"}));
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
