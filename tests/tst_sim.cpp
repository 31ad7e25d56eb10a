// Checks of the simulated meter itself, through the hidapi calls the link makes.
#include "hidsim.h"

#include <QtTest>

#include <hidapi.h>

using namespace hidsim;

namespace {

const MeterId meter2 { 0x1209, 0x7351, QStringLiteral("SN2") };
const MeterId meter1 { 0x1209, 0x7350, QStringLiteral("SN1") };

QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray a;
    for (int b : list)
        a.append(char(b));
    return a;
}

// Writes one frame the way the link does: report id 0, then the 64 bytes.
int writeFrame(hid_device* dev, const QByteArray& frame)
{
    const QByteArray report = QByteArray(1, '\0') + frame;
    return hid_write(dev, reinterpret_cast<const unsigned char*>(report.constData()), size_t(report.size()));
}

QByteArray readReport(hid_device* dev)
{
    unsigned char buf[64];
    const int n = hid_read(dev, buf, sizeof buf);
    return n > 0 ? QByteArray(reinterpret_cast<const char*>(buf), n) : QByteArray();
}

// Reads until a report arrives (the live stream is paced in real time).
QByteArray waitReport(hid_device* dev)
{
    QByteArray report;
    (void)QTest::qWaitFor(
        [&] {
            report = readReport(dev);
            return !report.isEmpty();
        },
        5000);
    return report;
}

hid_device* openMeter(const MeterId& id)
{
    const std::wstring serial = id.serial.toStdWString();
    return hid_open(id.vid, id.pid, serial.c_str());
}

} // namespace

class TestSim : public QObject
{
    Q_OBJECT
private slots:
    void init() { reset(); }
    void cleanup() { reset(); }

    void crcOfAbcIs06()
    {
        const quint8 abc[] = { 'a', 'b', 'c' };
        QCOMPARE(crc8(abc, 3), quint8(0x06));
    }

    void enumerationListsPluggedMetersInOrder()
    {
        MeterConfig a;
        a.id = { 0x1209, 0x7352, QStringLiteral("B") };
        MeterConfig b;
        b.id = { 0x1209, 0x7352, QStringLiteral("A") };
        b.hasSerial = false;
        plug(a);
        plug(b);
        MeterConfig other;
        other.id = { 0x1209, 0x7353, QStringLiteral("C") };
        plug(other);

        hid_device_info* devs = hid_enumerate(0x1209, 0x7352);
        QVERIFY(devs);
        QCOMPARE(QString::fromWCharArray(devs->serial_number), QStringLiteral("B"));
        QVERIFY(devs->next);
        QVERIFY(!devs->next->serial_number); // a meter without serial string
        QVERIFY(!devs->next->next);
        hid_free_enumeration(devs);

        QVERIFY(unplug(a.id));
        devs = hid_enumerate(0x1209, 0x7352);
        QVERIFY(devs && !devs->next);
        hid_free_enumeration(devs);
    }

    void failedOpensAndUnplug()
    {
        MeterConfig c;
        c.id = meter2;
        plug(c);
        failOpens(meter2, 1);
        QVERIFY(!openMeter(meter2));
        hid_device* dev = openMeter(meter2);
        QVERIFY(dev);
        QCOMPARE(openHandles(meter2), 1);
        QVERIFY(unplug(meter2));
        unsigned char buf[64];
        QCOMPARE(hid_read(dev, buf, sizeof buf), -1);
        QCOMPARE(writeFrame(dev, frame2(0x81)), -1);
        hid_close(dev);
    }

    void format2IdentityBytes()
    {
        MeterConfig c;
        c.id = meter2;
        c.identity.runMode = 2;
        c.identity.bootVersion = 0x0105;
        c.identity.model = 0x0100;
        c.identity.appVersion = 110;
        c.identity.sn = 0x01020304;
        c.identity.runCnt = 9;
        plug(c);
        hid_device* dev = openMeter(meter2);
        QCOMPARE(writeFrame(dev, frame2(0x81)), 65);
        const QByteArray reply = readReport(dev);
        QCOMPARE(reply.size(), 64);
        QCOMPARE(
            reply.left(20), bytes({ 0xAA, 3, 2, 0, 0x05, 0x01, 0x00, 0x01, 110, 0, 4, 3, 2, 1, 9, 0, 0, 0, 0, 0 }));
        QCOMPARE(quint8(reply.at(63)), crc8(reinterpret_cast<const quint8*>(reply.constData()), 63));

        // A broken frame and a silent meter get no answer.
        writeFrame(dev, withBadCrc(frame2(0x81)));
        setAnswersIdentity(meter2, false);
        writeFrame(dev, frame2(0x81));
        QVERIFY(readReport(dev).isEmpty());
        hid_close(dev);
    }

    void format1IdentityAndBootloader()
    {
        MeterConfig c;
        c.id = meter1;
        c.format = 1;
        c.identity.runMode = 1;
        c.identity.model = 0x0100;
        c.identity.sn = 0x12345;
        plug(c);
        hid_device* dev = openMeter(meter1);
        writeFrame(dev, frame1(0x26, 0x45, 0));
        const QByteArray id = readReport(dev);
        QCOMPARE(quint8(id.at(0)), quint8(0x27));
        QCOMPARE(quint8(id.at(5)), quint8(0x00)); // model, low byte
        QCOMPARE(quint8(id.at(8)), quint8(1)); // run mode
        QCOMPARE(quint8(id.at(11)), quint8(0x45)); // serial, low 16 bits
        QCOMPARE(quint8(id.at(12)), quint8(0x23));

        // Head announcing 70 bytes, then 58 + 12: data ack, then the end ack instead.
        writeFrame(dev, frame1(0x28, 0, 0, bytes({ 110, 0, 70, 0, 0, 0 })));
        QCOMPARE(quint8(readReport(dev).at(0)), quint8(0x29));
        writeFrame(dev, frame1(0x2B, 1, 1, QByteArray(58, 'a')));
        QCOMPARE(quint8(readReport(dev).at(0)), quint8(0x2C));
        writeFrame(dev, frame1(0x2B, 2, 2, QByteArray(12, 'b')));
        QCOMPARE(quint8(readReport(dev).at(0)), quint8(0x31));
        QCOMPARE(receivedFirmware(meter1), QByteArray(58, 'a') + QByteArray(12, 'b'));
        hid_close(dev);
    }

    void liveStreamTakesSamplesFromTheSource()
    {
        MeterConfig c;
        c.id = meter2;
        plug(c);
        setSampleSource(meter2, [](quint64 n) {
            Sample s;
            s.vol = quint32(n);
            s.temp = -int(n);
            return s;
        });
        hid_device* dev = openMeter(meter2);
        QVERIFY(!isStreaming(meter2));
        writeFrame(dev, frame2(0x82));
        QVERIFY(isStreaming(meter2));
        const QByteArray first = waitReport(dev);
        QCOMPARE(first.size(), 64);
        QCOMPARE(quint8(first.at(1)), quint8(4));
        for (int i = 0; i < 4; ++i) {
            const int at = 2 + i * 15;
            QCOMPARE(quint8(first.at(at)), quint8(i)); // vol = sample number
            QCOMPARE(quint8(first.at(at + 12)), quint8(i == 0 ? 1 : 0)); // sign: 0 negative
        }
        const QByteArray second = waitReport(dev);
        QCOMPARE(second.size(), 64);
        QCOMPARE(quint8(second.at(2)), quint8(4)); // samples 4..7
        hid_close(dev);
    }

    void storedRecordingInBlocksOfSeven()
    {
        MeterConfig c;
        c.id = meter2;
        plug(c);
        QVector<QPair<quint32, quint32>> points;
        for (quint32 i = 0; i < 16; ++i)
            points.append({ 500000 + i, 1000 + i });
        setStoredRecording(meter2, points, 1000);
        hid_device* dev = openMeter(meter2);
        writeFrame(dev, frame2(0x84));
        QCOMPARE(readReport(dev).mid(1, 9), bytes({ 5, 16, 0, 0, 0, 0xE8, 0x03, 0, 0 }));
        QList<int> blocks;
        for (int i = 0; i < 4; ++i) {
            writeFrame(dev, frame2(0x86));
            const QByteArray r = readReport(dev);
            if (!r.isEmpty())
                blocks.append(quint8(r.at(2)));
        }
        QCOMPARE(blocks, QList<int>({ 7, 7, 2 }));
        hid_close(dev);
    }

    void triggerScriptAndFaults()
    {
        MeterConfig c;
        c.id = meter2;
        plug(c);
        hid_device* dev = openMeter(meter2);
        setTriggerScript(meter2, { false, true });
        QList<int> replies;
        for (int i = 0; i < 3; ++i) {
            writeFrame(dev, frame2(0x88, bytes({ 1, 0x88, 0x13 })));
            replies.append(quint8(readReport(dev).at(1)));
        }
        QCOMPARE(replies, QList<int>({ 8, 7, 7 }));

        refuseWrites(meter2, 2);
        QCOMPARE(writeFrame(dev, frame2(0x83)), -1);
        QCOMPARE(writeFrame(dev, frame2(0x83)), -1);
        QCOMPARE(writeFrame(dev, frame2(0x83)), 65);
        const QList<WrittenFrame> log = writeLog(meter2);
        QCOMPARE(log.size(), 6);
        QVERIFY(log.at(3).refused && log.at(4).refused && !log.at(5).refused);
        QVERIFY(log.at(5).usec >= log.at(0).usec);
        QCOMPARE(countWritten(meter2, 0x83), 1);

        dropReplies(meter2, 1);
        writeFrame(dev, frame2(0x88));
        QVERIFY(readReport(dev).isEmpty());
        injectReport(meter2, frame2(0x07));
        QCOMPARE(readReport(dev), frame2(0x07));
        hid_close(dev);
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
