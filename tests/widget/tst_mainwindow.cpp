#include "app/devicestate.h"
#include "app/mainwindow.h"
#include "device/loggerports.h"
#include "device/loggerprotocol.h"
#include "device/replyassembler.h"
#include "pseudoterminal.h"
#include "windowprobe.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSerialPort>
#include <QStandardItemModel>
#include <QTest>
#include <QTextEdit>

#include <memory>

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void shouldHaveDefaultValue();
    void widgetsSitWhereTheFormPutsThem_data();
    void widgetsSitWhereTheFormPutsThem();
    void slotsAreDeclaredInOrder();
    void tabFollowsTheFormOrder();
    void alarmFieldsTakeOnlyTheRange_data();
    void alarmFieldsTakeOnlyTheRange();
    void alarmBoxEnablesItsFields();
    void shortIntervalsFollowTheHours();
    void radioPairsAreIndependent();
    void zoneChangeUpdatesTheClockAtOnce();
    void setConfigurationWithoutLogger();
    void unusableLimitsAreRefusedBeforeTheConnectionTest_data();
    void unusableLimitsAreRefusedBeforeTheConnectionTest();
    void logEntriesLandAtTheEnd();

    // Over a pseudo-terminal that stands in for a connected logger.
    void configurationReplyFillsTheForm();
    void configurationReplyWithBadFieldsKeepsWhatItCannotRead();
    void truncatedConfigurationReplyChangesNothing();
    void identifierAndIdentificationReplies();
    void bytesWithoutACommandAreReported();
    void readWhileConnectedAsksForTheConfiguration();
    void setConfigurationWritesThirtySevenBytes();
    void failedWriteIsNotReportedAsSuccess();
    void disconnectSendsNothing();
    void unpluggedPortIsNoticedByTheTick();
    void lineFailureEndsTheConnection();

private:
    template<class T> T *child(const char *name) const { return namedChild<T>(window.get(), name); }
    QStringList logMessages() const;
    void attachLogger();
    bool pluggedIn = true;

    std::unique_ptr<MainWindow> window;
    std::unique_ptr<PseudoTerminal> logger;
};

void MainWindowTest::init()
{
    resetDeviceState();
    pluggedIn = true;
    setPortPresenceProbe([this](const QString &) { return pluggedIn; });
    window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void MainWindowTest::cleanup()
{
    window.reset();
    logger.reset();
    setPortPresenceProbe({});
}

QStringList MainWindowTest::logMessages() const
{
    return activityLog(child<QTextEdit>("StatusLabel"));
}

// Opens the window's port on a pseudo-terminal and marks it connected, as a scan would. The
// presence watch sees it plugged in until the test says otherwise.
void MainWindowTest::attachLogger()
{
    logger = std::make_unique<PseudoTerminal>();
    QVERIFY(logger->isValid());
    serialPort->setPortName(logger->slavePath());
    serialPort->setBaudRate(LoggerProtocol::kBaudRate);
    QVERIFY(serialPort->open(QIODevice::ReadWrite));
    deviceConnected = 1;
    deviceIdentified = 1;
}

void MainWindowTest::shouldHaveDefaultValue()
{
    QCOMPARE(window->windowTitle(), QStringLiteral("Tempyra Config Tool"));
    QCOMPARE(window->minimumSize(), QSize(440, 655));
    QCOMPARE(window->maximumSize(), QSize(440, 655));
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        QCOMPARE(window->palette().color(group, QPalette::Window), QColor(Qt::white));
        QCOMPARE(window->palette().color(group, QPalette::Base), QColor(Qt::white));
    }

    QCOMPARE(logMessages(), QStringList {QStringLiteral("No Device Connected!")});
    QCOMPARE(child<QPushButton>("ConnectButton")->text(), QStringLiteral("Connect"));
    QVERIFY(child<QLineEdit>("deviceID")->text().isEmpty());
    QVERIFY(child<QLineEdit>("deviceTime")->text().isEmpty());
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                .match(child<QLineEdit>("systemTime")->text())
                .hasMatch());

    const struct
    {
        const char *name;
        int count;
        QString first;
        QString last;
        QString current;
    } lists[] = {
        {"logHours", 19, "00", "18", "00"},
        {"logMinutes", 59, "01", "59", "10"},
        {"startHours", 5, "00", "04", "00"},
        {"startMinutes", 60, "00", "59", "30"},
        {"timezoneHours", 38, "UTC+01:00", "UTC-14:00", "UTC+05:30"},
    };
    for (const auto &list : lists) {
        auto *box = child<QComboBox>(list.name);
        QVERIFY2(box->count() == list.count, list.name);
        if (QByteArray(list.name) != "timezoneHours") {
            QCOMPARE(box->itemText(0), list.first);
            QCOMPARE(box->itemText(box->count() - 1), list.last);
            for (int i = 0; i < box->count(); ++i)
                QVERIFY2(box->itemText(i).size() == 2, list.name);
        }
        QCOMPARE(box->currentText(), list.current);
        for (int i = 0; i < box->count(); ++i)
            QVERIFY2(qobject_cast<QStandardItemModel *>(box->model())->item(i)->isEnabled(),
                     list.name);
    }

    QVERIFY(child<QRadioButton>("celsiusScale")->isChecked());
    QVERIFY(child<QRadioButton>("pdfFormat")->isChecked());
    QVERIFY(!child<QRadioButton>("csvFormat")->isEnabled());
    auto *alarm = child<QGroupBox>("enableAlarmConfig");
    QVERIFY(alarm->isCheckable() && !alarm->isChecked() && alarm->isFlat());
    for (const char *name : {"alarmLower", "alarmUpper"}) {
        auto *field = child<QLineEdit>(name);
        QVERIFY2(!field->isEnabled(), name);
        QCOMPARE(field->maxLength(), 3);
        QVERIFY2(field->validator(), name);
    }
    QCOMPARE(child<QLineEdit>("alarmLower")->validator(),
             child<QLineEdit>("alarmUpper")->validator());
    QCOMPARE(child<QLineEdit>("alarmLower")->text(), QStringLiteral("5"));
    QCOMPARE(child<QLineEdit>("alarmUpper")->text(), QStringLiteral("60"));
    for (const char *name : {"deviceID", "deviceTime", "systemTime"})
        QVERIFY2(child<QLineEdit>(name)->isReadOnly(), name);
    auto *log = child<QTextEdit>("StatusLabel");
    QVERIFY(log->isReadOnly());
    QVERIFY(!log->isUndoRedoEnabled());
    QCOMPARE(log->textInteractionFlags(), Qt::TextSelectableByMouse);
    QCOMPARE(child<QMenu>("menuAbout")->title(), QStringLiteral("About"));
    QVERIFY(child<QMenu>("menuAbout")->actions().isEmpty());
    QCOMPARE(window->menuBar()->actions().size(), 1);
}

void MainWindowTest::widgetsSitWhereTheFormPutsThem_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QString>("text");
    const auto row
        = [](const char *name, const char *cls, const char *parent, const QString &text) {
              QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(cls)
                                  << QString::fromLatin1(parent) << text;
          };
    const char *box = "verticalLayoutWidget";
    row("label", "QLabel", box, "Device ID :");
    row("ConnectButton", "QPushButton", box, "Connect");
    row("readButton", "QPushButton", box, "Read");
    row("temperatureScaleLabel", "QLabel", box, "Temperature Scale :");
    row("celsiusScale", "QRadioButton", box, QStringLiteral("\u00b0 C"));
    row("fahrenheitScale", "QRadioButton", box, QStringLiteral("\u00b0 F"));
    row("logIntervalLabel", "QLabel", box, "Log Interval :");
    row("label_2", "QLabel", box, "H");
    row("label_5", "QLabel", box, "M");
    row("startDelayLabel", "QLabel", box, "Start Delay :");
    row("label_6", "QLabel", box, "H");
    row("label_7", "QLabel", box, "M");
    row("deviceTimeLabel", "QLabel", box, "Device Time :");
    row("systemTimeLabel", "QLabel", box, "System Time :");
    row("timeZoneLabel", "QLabel", box, "Time Zone :");
    row("fileTypeLabel", "QLabel", box, "File Type :");
    row("pdfFormat", "QRadioButton", box, "PDF");
    row("csvFormat", "QRadioButton", box, "CSV");
    row("enableAlarmConfig", "QGroupBox", box, "Enable Alarm");
    row("label_3", "QLabel", "enableAlarmConfig", "Lower Value :");
    row("label_4", "QLabel", "enableAlarmConfig", "Upper Value :");
    row("groupBox", "QGroupBox", box, "Details");
    row("StatusLabel", "QTextEdit", "groupBox", QString());
    row("setConfigButton", "QPushButton", box, "Set Configuration");
    row("verticalLayoutWidget", "QWidget", "centralWidget", QString());
}

void MainWindowTest::widgetsSitWhereTheFormPutsThem()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QString, text);
    auto *widget = window->findChild<QWidget *>(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
    QString shown;
    if (auto *label = qobject_cast<QLabel *>(widget))
        shown = label->text();
    else if (auto *button = qobject_cast<QAbstractButton *>(widget))
        shown = button->text();
    else if (auto *group = qobject_cast<QGroupBox *>(widget))
        shown = group->title();
    QCOMPARE(shown, text);
}

void MainWindowTest::slotsAreDeclaredInOrder()
{
    const QMetaObject *meta = window->metaObject();
    QCOMPARE(QByteArray(meta->className()), QByteArray("MainWindow"));
    QStringList slotSignatures;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Private);
        slotSignatures.append(QString::fromLatin1(method.methodSignature()));
    }
    QCOMPARE(slotSignatures,
             QStringList({"handleBytesWritten(qlonglong)", "serialReceived()", "connectDevice()",
                          "getDeviceConfig()", "setDeviceConfig()", "showTime()", "intervalCheck()",
                          "clickedAbout()"}));
    QCOMPARE(meta->method(meta->methodOffset()).parameterNames(), QList<QByteArray> {"bytes"});
    QCOMPARE(meta->propertyCount(), meta->propertyOffset());
}

void MainWindowTest::tabFollowsTheFormOrder()
{
    QStringList chain;
    QWidget *widget = child<QLineEdit>("deviceID");
    do {
        if (widget->focusPolicy() & Qt::TabFocus
            && !widget->objectName().startsWith(QLatin1String("qt_")))
            chain.append(widget->objectName());
        widget = widget->nextInFocusChain();
    } while (widget != child<QLineEdit>("deviceID"));
    const QStringList expected {
        "deviceID",   "ConnectButton", "readButton",  "celsiusScale",   "fahrenheitScale",
        "logHours",   "logMinutes",    "startHours",  "startMinutes",   "deviceTime",
        "systemTime", "timezoneHours", "pdfFormat",   "csvFormat",      "enableAlarmConfig",
        "alarmLower", "alarmUpper",    "StatusLabel", "setConfigButton"};
    QCOMPARE(chain.mid(0, expected.size()), expected);
}

void MainWindowTest::alarmFieldsTakeOnlyTheRange_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("shown");
    QTest::newRow("-41 stops at -4") << "-41"
                                     << "-4";
    QTest::newRow("86 stops at 8") << "86"
                                   << "8";
    QTest::newRow("05 stands") << "05"
                               << "05";
    QTest::newRow("-0 stops at -") << "-0"
                                   << "-";
    QTest::newRow("-40 then a fourth key") << "-401"
                                           << "-40";
    QTest::newRow("+ and space refused") << "+ 7"
                                         << "7";
    QTest::newRow("85") << "85"
                        << "85";
}

void MainWindowTest::alarmFieldsTakeOnlyTheRange()
{
    QFETCH(QString, keys);
    QFETCH(QString, shown);
    child<QGroupBox>("enableAlarmConfig")->setChecked(true);
    for (const char *name : {"alarmLower", "alarmUpper"}) {
        auto *field = child<QLineEdit>(name);
        field->clear();
        QTest::keyClicks(field, keys);
        QCOMPARE(field->text(), shown);
    }
}

void MainWindowTest::alarmBoxEnablesItsFields()
{
    auto *alarm = child<QGroupBox>("enableAlarmConfig");
    auto *lower = child<QLineEdit>("alarmLower");
    alarm->setChecked(true);
    for (const char *name : {"label_3", "alarmLower", "label_4", "alarmUpper"})
        QVERIFY2(window->findChild<QWidget *>(QLatin1String(name))->isEnabled(), name);
    lower->clear();
    QTest::keyClicks(lower, QStringLiteral("-12"));
    alarm->setChecked(false);
    QVERIFY(!lower->isEnabled());
    QCOMPARE(lower->text(), QStringLiteral("-12"));
}

void MainWindowTest::shortIntervalsFollowTheHours()
{
    auto *hours = child<QComboBox>("logHours");
    auto *minutes = child<QComboBox>("logMinutes");
    auto *model = qobject_cast<QStandardItemModel *>(minutes->model());
    const auto enabledRows = [model] {
        QList<int> rows;
        for (int row = 0; row < model->rowCount(); ++row)
            if (model->item(row)->isEnabled())
                rows.append(row);
        return rows;
    };

    hours->setCurrentIndex(1);
    QCOMPARE(enabledRows().size(), 59);
    minutes->setCurrentText(QStringLiteral("05"));
    hours->setCurrentIndex(0);
    QCOMPARE(enabledRows().first(), 10);
    QCOMPARE(enabledRows().size(), 49);
    QCOMPARE(minutes->currentText(), QStringLiteral("05")); // a disabled choice stays chosen
    hours->setCurrentIndex(18);
    QCOMPARE(enabledRows().size(), 59);
}

void MainWindowTest::radioPairsAreIndependent()
{
    QTest::mouseClick(child<QRadioButton>("fahrenheitScale"), Qt::LeftButton);
    QVERIFY(child<QRadioButton>("fahrenheitScale")->isChecked());
    QVERIFY(!child<QRadioButton>("celsiusScale")->isChecked());
    QVERIFY(child<QRadioButton>("pdfFormat")->isChecked());
    QTest::mouseClick(child<QRadioButton>("csvFormat"), Qt::LeftButton);
    QVERIFY(!child<QRadioButton>("csvFormat")->isChecked());
}

void MainWindowTest::zoneChangeUpdatesTheClockAtOnce()
{
    auto *zones = child<QComboBox>("timezoneHours");
    auto *clock = child<QLineEdit>("systemTime");
    zones->setCurrentText(QStringLiteral("UTC+14:00"));
    const QDateTime east
        = QDateTime::fromString(clock->text(), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    zones->setCurrentText(QStringLiteral("UTC-12:00"));
    const QDateTime west
        = QDateTime::fromString(clock->text(), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    QVERIFY(east.isValid() && west.isValid());
    // 26 hours apart, give or take the second that may have passed in between.
    QVERIFY(qAbs(west.secsTo(east) - 26 * 3600) <= 2);
}

void MainWindowTest::setConfigurationWithoutLogger()
{
    QTest::mouseClick(child<QPushButton>("setConfigButton"), Qt::LeftButton);
    QCOMPARE(logMessages().last(), QStringLiteral("No Device Connected!"));
    QCOMPARE(logMessages().size(), 2);
    QCOMPARE(writeData.size(), LoggerProtocol::kConfigLength);
    QCOMPARE(writeData.at(0), LoggerProtocol::kConfigCommand);
}

void MainWindowTest::unusableLimitsAreRefusedBeforeTheConnectionTest_data()
{
    QTest::addColumn<bool>("alarmOn");
    QTest::addColumn<QString>("lower");
    QTest::addColumn<QString>("upper");
    QTest::newRow("empty lower") << false << ""
                                 << "60";
    QTest::newRow("lone minus upper") << false << "5"
                                      << "-";
    QTest::newRow("out of range from a reply") << false << "5"
                                               << "999";
    QTest::newRow("crossed with the alarm on") << true << "50"
                                               << "10";
}

void MainWindowTest::unusableLimitsAreRefusedBeforeTheConnectionTest()
{
    QFETCH(bool, alarmOn);
    QFETCH(QString, lower);
    QFETCH(QString, upper);
    attachLogger();
    child<QGroupBox>("enableAlarmConfig")->setChecked(alarmOn);
    child<QLineEdit>("alarmLower")->setText(lower);
    child<QLineEdit>("alarmUpper")->setText(upper);
    QTest::mouseClick(child<QPushButton>("setConfigButton"), Qt::LeftButton);
    QCOMPARE(logMessages().last(), QStringLiteral("Invalid Temperature value!"));
    QVERIFY(logger->readAll(100).isEmpty());
}

void MainWindowTest::logEntriesLandAtTheEnd()
{
    auto *log = child<QTextEdit>("StatusLabel");
    QTextCursor cursor = log->textCursor();
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextWord, QTextCursor::KeepAnchor);
    log->setTextCursor(cursor); // the operator selected a word of the first line
    QTest::mouseClick(child<QPushButton>("setConfigButton"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>("readButton"), Qt::LeftButton);
    QCOMPARE(logMessages(),
             QStringList({"No Device Connected!", "No Device Connected!", "No Device Connected!"}));
    QVERIFY(!log->textCursor().hasSelection());
}

void MainWindowTest::configurationReplyFillsTheForm()
{
    attachLogger();
    child<QComboBox>("logHours")->setCurrentIndex(3);
    writeData = QByteArray(1, LoggerProtocol::kConfigReadRequest);
    currentReply().begin(LoggerProtocol::kConfigReadRequest);
    const QByteArray reply("011085-1002150005109050001012027-0330");
    logger->write(reply.left(20));
    QTest::qWait(50);
    QCOMPARE(child<QLineEdit>("alarmUpper")->text(), QStringLiteral("60")); // not yet decoded
    logger->write(reply.mid(20) + "trailing");

    QTRY_COMPARE(child<QLineEdit>("deviceTime")->text(), QStringLiteral("2027-01-01 09:05:00"));
    QVERIFY(child<QRadioButton>("fahrenheitScale")->isChecked());
    QVERIFY(child<QGroupBox>("enableAlarmConfig")->isChecked());
    QVERIFY(child<QRadioButton>("pdfFormat")->isChecked());
    QCOMPARE(child<QLineEdit>("alarmUpper")->text(), QStringLiteral("85"));
    QCOMPARE(child<QLineEdit>("alarmLower")->text(), QStringLiteral("-10"));
    QCOMPARE(child<QComboBox>("startHours")->currentText(), QStringLiteral("02"));
    QCOMPARE(child<QComboBox>("startMinutes")->currentText(), QStringLiteral("15"));
    QCOMPARE(child<QComboBox>("logHours")->currentText(), QStringLiteral("00"));
    QCOMPARE(child<QComboBox>("logMinutes")->currentText(), QStringLiteral("05"));
    QCOMPARE(child<QComboBox>("timezoneHours")->currentText(), QStringLiteral("UTC-03:30"));
    auto *model = qobject_cast<QStandardItemModel *>(child<QComboBox>("logMinutes")->model());
    QVERIFY(!model->item(4)->isEnabled()); // the interval rule ran for "00" hours
    QCOMPARE(logMessages(),
             QStringList {QStringLiteral("No Device Connected!")}); // decoding logs nothing
}

void MainWindowTest::configurationReplyWithBadFieldsKeepsWhatItCannotRead()
{
    attachLogger();
    writeData = QByteArray(1, LoggerProtocol::kConfigReadRequest);
    currentReply().begin(LoggerProtocol::kConfigReadRequest);
    logger->write("0x7abc-05xx1799009999999999999999+9999");
    QTRY_COMPARE(child<QLineEdit>("deviceTime")->text(), QStringLiteral("9999-99-99 99:99:99"));
    QVERIFY(child<QRadioButton>("celsiusScale")->isChecked());
    QVERIFY(!child<QGroupBox>("enableAlarmConfig")->isChecked());
    QVERIFY(child<QRadioButton>("pdfFormat")->isChecked());
    QCOMPARE(child<QLineEdit>("alarmUpper")->text(), QStringLiteral("0"));
    QCOMPARE(child<QLineEdit>("alarmLower")->text(), QStringLiteral("-5"));
    QCOMPARE(child<QComboBox>("startHours")->currentText(), QStringLiteral("00")); // "xx"
    QCOMPARE(child<QComboBox>("startMinutes")->currentText(), QStringLiteral("17"));
    QCOMPARE(child<QComboBox>("logHours")->currentText(), QStringLiteral("00")); // "99"
    QCOMPARE(child<QComboBox>("logMinutes")->currentText(), QStringLiteral("10")); // "00"
    QCOMPARE(child<QComboBox>("timezoneHours")->currentText(), QStringLiteral("UTC+05:30"));
}

void MainWindowTest::truncatedConfigurationReplyChangesNothing()
{
    attachLogger();
    writeData = QByteArray(1, LoggerProtocol::kConfigReadRequest);
    currentReply().begin(LoggerProtocol::kConfigReadRequest);
    logger->write("01108500");
    QTest::qWait(100);
    QVERIFY(child<QRadioButton>("celsiusScale")->isChecked());
    QCOMPARE(child<QLineEdit>("alarmUpper")->text(), QStringLiteral("60"));
    QVERIFY(child<QLineEdit>("deviceTime")->text().isEmpty());
    // A new command starts over: the stale bytes do not join the next reply.
    currentReply().begin(LoggerProtocol::kConfigReadRequest);
    logger->write("00006000500300010114250705122026+0530");
    QTRY_COMPARE(child<QLineEdit>("deviceTime")->text(), QStringLiteral("2026-12-05 14:25:07"));
}

void MainWindowTest::identifierAndIdentificationReplies()
{
    attachLogger();
    deviceIdentified = 0;
    writeData = QByteArray(1, LoggerProtocol::kIdentificationRequest);
    currentReply().begin(LoggerProtocol::kIdentificationRequest);
    logger->write("5740");
    QTest::qWait(50);
    QCOMPARE(deviceIdentified, 0);
    logger->write(QByteArray(LoggerProtocol::kIdentificationCode).mid(4) + "xyz");
    QTRY_COMPARE(deviceIdentified, 1);

    writeData = QByteArray(1, LoggerProtocol::kDeviceIdRequest);
    currentReply().begin(LoggerProtocol::kDeviceIdRequest);
    logger->write("TL-");
    QTRY_COMPARE(child<QLineEdit>("deviceID")->text(), QStringLiteral("TL-"));
    logger->write(QByteArray("\xc3\xa9"
                             "42\0junk",
                             8));
    QTRY_COMPARE(child<QLineEdit>("deviceID")->text(), QStringLiteral("TL-\u00e942"));
}

void MainWindowTest::bytesWithoutACommandAreReported()
{
    attachLogger();
    writeData.clear();
    logger->write("?");
    QTRY_COMPARE(logMessages().last(), QStringLiteral("No Device Connected!Invalid Command!"));

    writeData = QByteArray(1, LoggerProtocol::kConfigCommand);
    logger->write("ignored");
    QTest::qWait(50);
    QCOMPARE(logMessages().size(), 1);
}

void MainWindowTest::readWhileConnectedAsksForTheConfiguration()
{
    attachLogger();
    QTest::mouseClick(child<QPushButton>("readButton"), Qt::LeftButton);
    QCOMPARE(logMessages().last(), QStringLiteral("Reading Data"));
    QByteArray sent;
    QTRY_COMPARE((sent += logger->readAll(), sent), QByteArray("0"));
    QTest::qWait(50);
    QCOMPARE(sent + logger->readAll(), QByteArray("0"));
}

void MainWindowTest::setConfigurationWritesThirtySevenBytes()
{
    attachLogger();
    QTest::mouseClick(child<QPushButton>("setConfigButton"), Qt::LeftButton);
    QCOMPARE(logMessages().last(), QStringLiteral("Device Configured!"));
    const QByteArray sent = logger->readAll(1000);
    QCOMPARE(sent.size(), LoggerProtocol::kConfigLength);
    QVERIFY(sent.startsWith("100060005003000101"));
    QVERIFY(sent.endsWith("+0530"));
    const QDateTime clock = QDateTime::fromString(QString::fromLatin1(sent.mid(18, 14)),
                                                  QStringLiteral("hhmmssddMMyyyy"));
    const QDateTime india = QDateTime::currentDateTimeUtc().addSecs(5 * 3600 + 1800);
    QVERIFY(qAbs(clock.secsTo(QDateTime(india.date(), india.time()))) <= 2);
}

void MainWindowTest::failedWriteIsNotReportedAsSuccess()
{
    attachLogger();
    serialPort->close(); // still marked connected, as just after an unplug
    QTest::mouseClick(child<QPushButton>("setConfigButton"), Qt::LeftButton);
    QCOMPARE(logMessages().last(), QStringLiteral("Device Not Configured!"));
    QCOMPARE(deviceConnected, 1); // the presence watch decides about the connection
}

void MainWindowTest::disconnectSendsNothing()
{
    attachLogger();
    child<QLineEdit>("deviceID")->setText(QStringLiteral("TL-0001"));
    child<QPushButton>("ConnectButton")->setText(QStringLiteral("Disconnect"));
    QTest::mouseClick(child<QPushButton>("ConnectButton"), Qt::LeftButton);
    QCOMPARE(logMessages().last(), QStringLiteral("Disconnected!"));
    QCOMPARE(child<QPushButton>("ConnectButton")->text(), QStringLiteral("Connect"));
    QVERIFY(child<QLineEdit>("deviceID")->text().isEmpty());
    QVERIFY(!serialPort->isOpen());
    QCOMPARE(deviceConnected, 0);
    QCOMPARE(deviceIdentified, 0);
    QVERIFY(logger->readAll(100).isEmpty());
}

void MainWindowTest::unpluggedPortIsNoticedByTheTick()
{
    attachLogger();
    QTest::qWait(1100);
    QCOMPARE(deviceConnected, 1);
    pluggedIn = false;
    child<QPushButton>("ConnectButton")->setText(QStringLiteral("Disconnect"));
    QTRY_COMPARE_WITH_TIMEOUT(logMessages().last(), QStringLiteral("Disonnected!"), 3000);
    QCOMPARE(child<QPushButton>("ConnectButton")->text(), QStringLiteral("Connect"));
    QVERIFY(!serialPort->isOpen());
    QCOMPARE(deviceConnected, 0);
    QTest::qWait(1200);
    QCOMPARE(logMessages().count(QStringLiteral("Disonnected!")), 1);
}

void MainWindowTest::lineFailureEndsTheConnection()
{
    // The line dies while the port is still listed: reads fail, the port is closed at once and
    // the next tick reports the logger gone.
    attachLogger();
    logger->closeMaster();
    QTRY_VERIFY(!serialPort->isOpen());
    QTRY_COMPARE_WITH_TIMEOUT(logMessages().last(), QStringLiteral("Disonnected!"), 3000);
    QCOMPARE(deviceConnected, 0);
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
