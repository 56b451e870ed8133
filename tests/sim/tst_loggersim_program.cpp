#include "device/loggerprotocol.h"

#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int kTimeout = 10000;

QStringList outputLines(QProcess &process, QByteArray &buffer)
{
    buffer += process.readAllStandardOutput();
    return QString::fromUtf8(buffer).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestLoggerSimProgram : public QObject
{
    Q_OBJECT

private slots:
    void runsAndUnplugs_data();
    void runsAndUnplugs();
};

void TestLoggerSimProgram::runsAndUnplugs_data()
{
    QTest::addColumn<QStringList>("unplugArguments");
    QTest::newRow("Enter on stdin") << QStringList();
    QTest::newRow("after a while")
        << QStringList {QStringLiteral("--unplug-after"), QStringLiteral("0.5")};
}

void TestLoggerSimProgram::runsAndUnplugs()
{
    QFETCH(QStringList, unplugArguments);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("logger"));
    QProcess process;
    QByteArray output;
    process.start(QStringLiteral(LOGGER_SIM_PROGRAM),
                  QStringList {QStringLiteral("--device-id"), QStringLiteral("DEMO-7"),
                               QStringLiteral("--link"), link}
                      + unplugArguments);
    QTRY_VERIFY_WITH_TIMEOUT(!outputLines(process, output).isEmpty(), kTimeout);
    const QString first = outputLines(process, output).first();
    QVERIFY2(first.startsWith(QLatin1String("pty: /dev/")), qPrintable(first));
    const QString path = first.mid(5);
    QCOMPARE(QFileInfo(link).symLinkTarget(), path);

    if (unplugArguments.isEmpty()) {
        QSerialPort port;
        port.setPortName(link);
        port.setBaudRate(LoggerProtocol::kBaudRate);
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        port.write("2");
        QByteArray reply;
        QTRY_VERIFY_WITH_TIMEOUT((reply += port.readAll()).endsWith('\0'), kTimeout);
        QCOMPARE(reply, QByteArray("DEMO-7\0", 7));
        port.write("111085-0502150130109050001012027+0530");
        QTRY_COMPARE_WITH_TIMEOUT(outputLines(process, output).size(), 3, kTimeout);
        QCOMPARE(outputLines(process, output).mid(1),
                 (QStringList {QStringLiteral("cmd 2 device-id request"),
                               QStringLiteral("cmd 1 config: scale=F alarm=on upper=085 lower=-05 "
                                              "delay=02:15 interval=01:30 file=PDF "
                                              "clock=09:05:00 01-01-2027 zone=+0530")}));
        process.write("\n");
    }

    QVERIFY(process.waitForFinished(kTimeout));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(outputLines(process, output).last(), QStringLiteral("unplugged"));
    QVERIFY(!QFileInfo::exists(link));
    QVERIFY(!QFileInfo(link).isSymLink());
}

QTEST_GUILESS_MAIN(TestLoggerSimProgram)
#include "tst_loggersim_program.moc"
