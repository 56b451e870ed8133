// The widget-free rules: the configuration command's bytes and the alarm limits, the decoding
// and assembly of replies, the zones and the clocks, the settling of the line before a request
// (over a pseudo-terminal, the test playing the logger), and the quick look for a logger's port.

#include "clock/alarmlimits.h"
#include "clock/timezones.h"
#include "device/configcommand.h"
#include "device/configreply.h"
#include "device/linesettler.h"
#include "device/loggerports_p.h"
#include "device/replyassembler.h"
#include "windowprobe.h"

#include <QRegExpValidator>
#include <QSerialPort>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <pty.h>
#include <unistd.h>

namespace {
// A tree of sysfs and udev records under root: "PATH=CONTENT" writes a file, "PATH -> TARGET"
// makes a link.
bool makeTree(const QString &root, const QStringList &entries)
{
    for (const QString &entry : entries) {
        const int arrow = entry.indexOf(QLatin1String(" -> "));
        const int equals = entry.indexOf(QLatin1Char('='));
        const QString path = root + QLatin1Char('/') + entry.left(arrow >= 0 ? arrow : equals);
        QDir().mkpath(QFileInfo(path).path());
        if (arrow >= 0) {
            if (!QFile::link(entry.mid(arrow + 4), path))
                return false;
            continue;
        }
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(entry.mid(equals + 1).toUtf8()) < 0)
            return false;
    }
    return true;
}
} // namespace

Q_DECLARE_METATYPE(LoggerConfig)

class CoreTest : public QObject
{
    Q_OBJECT

private slots:
    void command_data()
    {
        QTest::addColumn<LoggerConfig>("config");
        QTest::addColumn<QByteArray>("bytes"); // none: refused
        const LoggerConfig initial = LoggerConfig::windowDefaults();
        // At 2026-12-31 20:00:00 UTC.
        QTest::newRow("initial form")
            << initial << QByteArray("10006000500300010101300001012027+0530");
        QTest::newRow("edited form")
            << LoggerConfig {true, true, "85", "-5", "02", "15", "01", "30", true, "UTC+05:30"}
            << QByteArray("111085-0502150130101300001012027+0530");
        QTest::newRow("CSV, western zone")
            << LoggerConfig {false, false, "60", "5", "00", "30", "00", "10", false, "UTC-03:30"}
            << QByteArray("10006000500300010016300031122026-0330");
        // No zone to choose from: the computer's own time (TZ=Europe/Berlin), zero bytes for it.
        QTest::newRow("no zone") << LoggerConfig {false, false, "60", "5",  "00",
                                                  "30",  "00",  "10", true, ""}
                                 << QByteArray("10006000500300010121000031122026\0\0\0\0\0", 37);
        // The alarm limits: the alarm's byte and both limits' in the command, or none.
        const auto limits
            = [&initial](const char *name, bool alarm, const char *upper, const char *lower,
                         const QByteArray &bytes) {
                  LoggerConfig config = initial;
                  config.alarmEnabled = alarm;
                  config.alarmUpper = QLatin1String(upper);
                  config.alarmLower = QLatin1String(lower);
                  QTest::newRow(name)
                      << config
                      << (bytes.isEmpty() ? bytes : "10" + bytes + "00300010101300001012027+0530");
              };
        limits("range ends", true, "85", "-40", "1085-40");
        limits("leading zero, equal", true, "5", "05", "1005005");
        limits("crossed, alarm off", false, "5", "60", "0005060");
        limits("crossed, alarm on", true, "5", "60", {});
        limits("86", false, "86", "5", {});
        limits("-41", false, "60", "-41", {});
        limits("empty", false, "60", "", {});
        limits("lone minus", false, "-", "5", {});
        limits("plus sign", false, "60", "+5", {});
    }

    void command()
    {
        QFETCH(LoggerConfig, config);
        QFETCH(QByteArray, bytes);
        const QDateTime now(QDate(2026, 12, 31), QTime(20, 0), Qt::UTC);
        QCOMPARE(configurationCommand(config, now), bytes);
        // The window shows the time it sends, and none without a zone.
        if (!bytes.isEmpty())
            QCOMPARE(TimeZones::wallClock(now, config.zone),
                     config.zone.isEmpty() ? QString() : deviceTimeText(bytes.mid(18, 14)));
    }

    void alarmPattern()
    {
        // Of all texts of up to three keys, the fields take exactly the whole numbers from -40 to
        // 85 (0 to 9 also with a leading zero), and the write takes all of them.
        QStringList texts {QString()};
        for (int i = 0; i < texts.size(); ++i)
            for (QChar key : QStringLiteral("-+0123456789 "))
                if (texts.at(i).size() < 3)
                    texts.append(texts.at(i) + key);
        const QRegExp pattern = AlarmLimits::pattern();
        QSet<QString> accepted, expected;
        for (const QString &text : qAsConst(texts))
            if (pattern.exactMatch(text))
                accepted << text;
        for (int value = -40; value <= 85; ++value)
            expected << QString::number(value) << QString::number(value).rightJustified(2, '0');
        QCOMPARE(accepted, expected);
        for (const QString &text : qAsConst(accepted))
            QVERIFY2(AlarmLimits::parse(text), qPrintable(text));
        // A negative limit is typed through "-".
        QString minus = QStringLiteral("-");
        int position = 1;
        QCOMPARE(QRegExpValidator(pattern).validate(minus, position), QValidator::Intermediate);
    }

    void reply_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("settings"); // none: not decoded
        QTest::addColumn<QString>("clock");
        const auto row = [](const char *name, const QByteArray &reply, const char *settings,
                            const QString &clock) {
            QTest::newRow(name) << reply << QString::fromUtf8(settings) << clock;
        };
        row("every field, then more", "011085-1002150130109050001012027+0530!",
            "F on 85 -10 02 15 01 30 PDF UTC+05:30", "2027-01-01 09:05:00");
        row("undecodable", "0x7abc-05xx179900999999999999999+9999",
            "? ? 0 -5 xx 17 99 00 ? UTC+99:99", "9999-99-99 99:99:99");
        row("control bytes in the clock",
            QByteArray("0110850050215013010905000101\0\0\0\0+0530", 37),
            "F on 85 5 02 15 01 30 PDF UTC+05:30",
            QStringLiteral("\ufffd\ufffd\ufffd\ufffd-01-01 09:05:00"));
        row("one byte short", "00006000500300010014300005122026-033", "", QString());
    }

    void reply()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, settings);
        QFETCH(QString, clock);
        const auto decoded = decodeConfigurationReply(reply);
        QCOMPARE(decoded ? configText(decoded->config) : QString(), settings);
        QCOMPARE(decoded ? deviceTimeText(decoded->clock) : QString(), clock);
    }

    void assembly_data()
    {
        QTest::addColumn<char>("command");
        QTest::addColumn<QByteArray>("stream"); // everything the logger sends
        QTest::addColumn<int>("endsAt"); // the stream's bytes that complete the reply; -1: never
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("before"); // the reply to the command before, as delivered
        const auto row = [](const char *name, char command, const QByteArray &stream, int endsAt) {
            QTest::newRow(name) << command << stream << endsAt << stream.left(qMax(0, endsAt))
                                << QByteArray();
        };
        row("identification", '3', "5740210499", 8);
        row("configuration", '0', "00006000500300010114250705122026+0530tail", 37);
        row("configuration command", '1', "0123", -1);
        row("no command", '\0', "57402104", -1);
        QTest::newRow("identifier")
            << '2' << QByteArray("TL-0001\0junk", 12) << 8 << QByteArray("TL-0001") << QByteArray();
        QTest::newRow("empty identifier")
            << '2' << QByteArray("\0", 1) << 1 << QByteArray() << QByteArray();
        row("endless identifier", '2', QByteArray(100, 'x'), 64);
        // A logger that sends every reply twice, the copy late enough to follow the next request.
        const QByteArray identifier("TL-0001\0", 8);
        const QByteArray config = "00006000500300010114250705122026+0530";
        QTest::newRow("identifier after two copies of the identification")
            << '2' << "5740210457402104" + identifier << 24 << QByteArray("TL-0001")
            << QByteArray("57402104");
        QTest::newRow("configuration after the identifier's copy")
            << '0' << identifier + config << 45 << config << identifier;
        // Alike up to the clock: a new reply, not a copy.
        QByteArray later = config;
        later[23] = '9';
        QTest::newRow("configuration after another") << '0' << later << 37 << later << config;
    }

    void assembly()
    {
        QFETCH(char, command);
        QFETCH(QByteArray, stream);
        QFETCH(int, endsAt);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, before);
        // Two deliveries, split at every point.
        for (int split = 0; split <= stream.size(); ++split) {
            ReplyAssembler assembler;
            // The command before, told by its reply's length.
            assembler.begin(before.size() == 8 ? '3' : before.size() == 37 ? '0' : '2');
            assembler.feed(before);
            assembler.begin(command);
            assembler.feed(stream.left(split));
            QCOMPARE(assembler.isComplete(), endsAt >= 0 && split >= endsAt);
            assembler.feed(stream.mid(split));
            QCOMPARE(assembler.bytes(), reply);
            QCOMPARE(assembler.isComplete(), endsAt >= 0);
        }
    }

    void offeredZones_data()
    {
        QTest::addColumn<QByteArrayList>("platform");
        QTest::addColumn<QByteArrayList>("offered");
        QTest::newRow("only the UTC+hh:mm form")
            << QByteArrayList {"Asia/Kolkata", "UTC",       "UTC+05:30", "UTC+5:30",  "UTC+05:3",
                               "UTC+05:300",   "UTC 05:30", "UTC+05.30", "utc+05:30", "UTC+0a:30",
                               "UTC-03:30",    "GMT+05:30", "Zulu"}
            << QByteArrayList {"UTC+05:30", "UTC-03:30"};
        QByteArrayList forty;
        for (int hours = 0; hours < 40; ++hours)
            forty << QByteArrayLiteral("UTC+") + QByteArray::number(hours).rightJustified(2, '0')
                    + ":00";
        QTest::newRow("the last 38, in the platform's order") << forty << forty.mid(2);
    }
    void offeredZones()
    {
        QFETCH(QByteArrayList, platform);
        QFETCH(QByteArrayList, offered);
        QCOMPARE(TimeZones::offeredZones(platform), offered);
    }

    void portLook_data()
    {
        // A tree of tty class entries (class/), sysfs devices (devices/) and udev records (udev/).
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<bool>("mayList");
        const QString acm = QStringLiteral("devices/pci0/usb1/1-1/1-1:1.0/tty/ttyACM0");
        const QStringList withAcm {QStringLiteral("class/ttyACM0 -> ../") + acm,
                                   acm + QStringLiteral("/uevent=MAJOR=166\nMINOR=0\n")};
        const QStringList consoles {"class/tty1 -> ../devices/virtual/tty/tty1",
                                    "devices/virtual/tty/tty1/uevent=MAJOR=4\nMINOR=1",
                                    "class/ttyS0 -> ../devices/pnp0/00:01/tty/ttyS0",
                                    "devices/pnp0/00:01/tty/ttyS0/uevent=MAJOR=4\nMINOR=64"};
        QTest::newRow("no tty devices listed") << QStringList() << true;
        QTest::newRow("a terminal and a serial port") << consoles << false;
        const QStringList loggerRecord {"udev/c166:0=E:ID_VENDOR_ID=0483\nE:ID_MODEL_ID=5740\n"};
        QTest::newRow("the logger in its udev record") << consoles + withAcm + loggerRecord << true;
        QTest::newRow("the logger, identifiers written otherwise")
            << withAcm + QStringList {"udev/c166:0=E:ID_MODEL_ID=0x5740\nE:ID_VENDOR_ID=483"}
            << true;
        QTest::newRow("another vendor's adapter")
            << withAcm + QStringList {"udev/c166:0=E:ID_VENDOR_ID=0403\nE:ID_MODEL_ID=6001\n"}
            << false;
        QTest::newRow("the logger's vendor, another product")
            << withAcm + QStringList {"udev/c166:0=E:ID_VENDOR_ID=0483\nE:ID_MODEL_ID=6001\n"}
            << false;
        QTest::newRow("the identifiers in the uevent file")
            << QStringList {QStringLiteral("class/ttyACM0 -> ../") + acm,
                            acm + "/uevent=MAJOR=166\nMINOR=0\nID_VENDOR_ID=0483\nID_MODEL_ID=5740"}
            << true;
        QTest::newRow("a device without a number, its record by name")
            << QStringList {QStringLiteral("class/ttyACM0 -> ../") + acm,
                            acm + "/uevent=DEVNAME=ttyACM0",
                            "udev/+tty:ttyACM0=E:ID_VENDOR_ID=0483\nE:ID_MODEL_ID=5740"}
            << true;
        const QStringList usbDevice {"devices/pci0/usb1/1-1/idVendor=0483\n",
                                     "devices/pci0/usb1/1-1/idProduct=5740\n"};
        QTest::newRow("no udev record, the USB device above in sysfs")
            << withAcm + usbDevice << true;
    }
    void portLook()
    {
        // No port with the logger's identifiers is missed: where the look answers false, the
        // window's scan does not run the system's enumeration at all.
        QFETCH(QStringList, tree);
        QFETCH(bool, mayList);
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("class"))
                && QDir(root.path()).mkpath(QStringLiteral("udev")));
        QVERIFY(makeTree(root.path(), tree));
        const QByteArray at = QFile::encodeName(root.path());
        QCOMPARE(LoggerPorts::mayListLogger(at + "/class", at + "/udev"), mayList);
    }

    void settling_data()
    {
        QTest::addColumn<bool>("heard"); // the last byte was just received, else it waits unread
        QTest::addColumn<int>("copyAfterMs"); // one more byte this long into the wait
        QTest::addColumn<int>("everyMs"); // a byte this often, from before the wait on
        QTest::newRow("a byte unread in a line just opened") << false << -1 << 0;
        QTest::newRow("a reply's copy 4 ms into the wait") << true << 4 << 0;
        QTest::newRow("a line that never stops") << true << -1 << 2;
    }
    void settling()
    {
        // Nothing sent before the line has settled reaches the next reply, and a line that keeps
        // talking settles all the same.
        QFETCH(bool, heard);
        QFETCH(int, copyAfterMs);
        QFETCH(int, everyMs);
        int logger = -1, slave = -1;
        char name[64] = {};
        QVERIFY(openpty(&logger, &slave, name, nullptr, nullptr) == 0);
        QSerialPort port(QString::fromLocal8Bit(name));
        QVERIFY(port.open(QIODevice::ReadWrite));
        ::close(slave);
        const auto send = [logger] { QCOMPARE(::write(logger, "x", 1), ssize_t(1)); };
        LineSettler settler(&port);
        QSignalSpy settled(&settler, &LineSettler::settled);
        QByteArray afterwards; // what the port's owner read once the line had settled
        connect(&port, &QSerialPort::readyRead, &settler, [&] {
            const QByteArray bytes = port.readAll();
            if (!settled.isEmpty())
                afterwards += bytes;
        });
        QTimer chatter;
        connect(&chatter, &QTimer::timeout, &settler, send);
        if (everyMs > 0)
            chatter.start(everyMs);
        send();
        if (heard)
            QTest::qWait(2);
        else
            QThread::msleep(20); // into the line, not yet read
        if (copyAfterMs >= 0)
            QTimer::singleShot(copyAfterMs, &settler, send);
        settler.settle();
        QCOMPARE(settled.count(), heard ? 0 : 1);
        QVERIFY(!settled.isEmpty() || settled.wait(5000));
        if (everyMs == 0) {
            QTest::qWait(30);
            QCOMPARE(afterwards, QByteArray());
        }
        ::close(logger);
    }
};

QTEST_GUILESS_MAIN(CoreTest)
#include "tst_core.moc"
