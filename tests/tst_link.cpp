// The device link against the simulated meter: frames on the wire, the
// decoder, the conversions, the connection's timers and queue, the registry.
#include "com_layer.h"
#include "com_usbhid.h"
#include "decodeprobe.h"
#include "hidsim.h"
#include "knownmeters.h"
#include "lib_crc.h"
#include "suportprotocol.h"
#include "usbevent.h"
#include "usbparam.h"

#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <limits>
#include <memory>
#include <set>

using hidsim::MeterConfig;
using hidsim::MeterId;

namespace {

MeterId meterId(int row, const QString& serial)
{
    return { knownMeters[size_t(row)].vid, knownMeters[size_t(row)].pid, serial };
}

MeterConfig meterConfig(int row, const QString& serial, bool answers = true)
{
    MeterConfig c;
    c.id = meterId(row, serial);
    c.format = row == 0 ? 1 : 2;
    c.answersIdentity = answers;
    return c;
}

QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray a;
    for (int b : list)
        a.append(char(b));
    return a;
}

QByteArray resealed(QByteArray frame)
{
    frame[63] = char(hidsim::crc8(reinterpret_cast<const quint8*>(frame.constData()), 63));
    return frame;
}

QByteArray identity2(quint32 sn)
{
    return bytes({ 2, 0, 0x05, 0x01, 0x00, 0x01, 110, 0, int(sn & 0xFF), int((sn >> 8) & 0xFF), 0, 0, 7, 0, 0, 0 });
}

// A connection opened on a simulated meter without the registry; the 1 s
// timer is stopped so the test drives its slot tick by tick.
std::unique_ptr<Com_Layer> openDirect(const MeterId& id, int format)
{
    auto com = std::make_unique<Com_Layer>();
    com->connectTimer->stop();
    const std::wstring serial = id.serial.toStdWString();
    com->hid->open(id.vid, id.pid, serial.c_str());
    com->setCommunicateFormat(uchar(format));
    com->openReceiveAndSend();
    return com;
}

int refusedCount(const MeterId& id)
{
    int n = 0;
    for (const hidsim::WrittenFrame& w : hidsim::writeLog(id))
        n += w.refused ? 1 : 0;
    return n;
}

void decode(Com_Receive& r, QByteArray frame)
{
    r.decodingData(reinterpret_cast<quint8*>(frame.data()), uchar(frame.size()));
}

} // namespace

// Names of the signals an object emits, in the order emitted.
class SignalLog : public QObject
{
    Q_OBJECT
public:
    explicit SignalLog(QObject* sender)
    {
        const QMetaObject* mo = sender->metaObject();
        const int record = metaObject()->indexOfSlot("record()");
        for (int i = mo->methodOffset(); i < mo->methodCount(); ++i)
            if (mo->method(i).methodType() == QMetaMethod::Signal)
                QMetaObject::connect(sender, i, this, record);
    }
    QStringList names;

private slots:
    void record() { names << QString::fromLatin1(sender()->metaObject()->method(senderSignalIndex()).name()); }
};

class TestLink : public QObject
{
    Q_OBJECT
private slots:
    void registryRegistersMetaTypes();
    void cleanup();

    void crc8();
    void encodeFormat2_data();
    void encodeFormat2();
    void encodeFormat1_data();
    void encodeFormat1();

    void decodeDrops_data();
    void decodeDrops();
    void decodeDispatch_data();
    void decodeDispatch();
    void relays_data();
    void relays();
    void decodeIdentity();
    void decodeTemperatureSign_data();
    void decodeTemperatureSign();
    void decodeStoredRecording_data();
    void decodeStoredRecording();
    void receiveRingStaysInBounds();
    void shortReportReplaysNothing_data();
    void shortReportReplaysNothing();

    void conversions_data();
    void conversions();
    void readingsStartValues();

    void signInFormat2ThenKeepAlive();
    void signInFormat1ThenNothing();
    void signInOnRealTimer();
    void everyIdentityReplyIsRelayed();
    void connectTimeStopsAtMaximum();

    void framesLeaveInOrderPaced();
    void failingWrite_data();
    void failingWrite();
    void fullQueueDropsSeventeenth();
    void deleteJoinsThreadsAndCloses();
    void deleteWithRefusingMeterDoesNotRetry();
    void deleteAfterFailedOpen();
    void writeWithoutPayloadSendsZeros();

    void registryStartupOrder();
    void registryFailedOpen();
    void registryRemoval_data();
    void registryRemoval();
    void registryIdentityStartsStream();
    void registryEndToEnd();
    void registryUnplugMidStream();
    void registryNoSerial_data();
    void registryNoSerial();
    void registryDuplicateSerial_data();
    void registryDuplicateSerial();
    void registryModelsAndTable();
    void registryRemoveAllAtShutdown();

    void voltageTable();
};

void TestLink::registryRegistersMetaTypes()
{
    // Queued delivery of the worker's replies needs these names known.
    QCOMPARE(QMetaType::type("PC_VOL_PARAM_QUEUE_T"), int(QMetaType::UnknownType));
    UsbEvent::instance();
    QVERIFY(QMetaType::type("DEV_MSG_T") != QMetaType::UnknownType);
    QVERIFY(QMetaType::type("DEV_PARAM_T") != QMetaType::UnknownType);
    QVERIFY(QMetaType::type("PC_VOL_PARAM_QUEUE_T") != QMetaType::UnknownType);
}

void TestLink::cleanup()
{
    UsbEvent::resetInstance();
    hidsim::reset();
}

void TestLink::crc8()
{
    quint8 abc[] = { 'a', 'b', 'c' };
    QCOMPARE(lib_CRC::getCRC8(abc, 3, 0x39), uchar(0x06));
    quint8 zeros[63] = {};
    QCOMPARE(lib_CRC::getCRC8(zeros, 63, 0x39), uchar(0));
}

// ------------------------------------------------------------------ encoding

void TestLink::encodeFormat2_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("payload"); // null: no payload pointer
    QTest::addColumn<int>("len");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray zeros61(61, '\0');
    QTest::newRow("identity request") << 0x81 << QByteArray() << 0 << bytes({ 0xAA, 0x81 }) + zeros61 + bytes({ 0x8E });
    QTest::newRow("keep-alive") << 0x83 << QByteArray() << 0 << bytes({ 0xAA, 0x83 }) + zeros61 + bytes({ 0x9E });
    QTest::newRow("live start") << 0x82 << QByteArray() << 0 << bytes({ 0xAA, 0x82 }) + zeros61 + bytes({ 0x96 });
    QTest::newRow("null payload, length 5") << 0x88 << QByteArray() << 5 << hidsim::frame2(0x88);
    QTest::newRow("trigger 9 V") << 0x88 << bytes({ 0, 0x28, 0x23 }) << 3
                                 << hidsim::frame2(0x88, bytes({ 0, 0x28, 0x23 }));
    QByteArray long70;
    for (int i = 0; i < 70; ++i)
        long70.append(char(i + 1));
    QTest::newRow("70 bytes cut to 61") << 0x84 << long70 << 70 << hidsim::frame2(0x84, long70.left(61));
}

void TestLink::encodeFormat2()
{
    QFETCH(int, type);
    QFETCH(QByteArray, payload);
    QFETCH(int, len);
    QFETCH(QByteArray, expected);

    const MeterId id = meterId(1, "E2");
    hidsim::plug(meterConfig(1, "E2", false));
    auto com = openDirect(id, 2);
    com->addPack(uchar(type), payload.isNull() ? nullptr : reinterpret_cast<quint8*>(payload.data()), uchar(len));
    QTRY_COMPARE(hidsim::framesWritten(id).size(), 1);
    QCOMPARE(hidsim::framesWritten(id).first().toHex(' '), expected.toHex(' '));
    const hidsim::WrittenFrame w = hidsim::writeLog(id).first();
    QCOMPARE(w.bytes.size(), 65);
    QCOMPARE(w.bytes.at(0), '\0'); // report number
}

void TestLink::encodeFormat1_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("packId");
    QTest::addColumn<int>("frameNo");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("identity request") << 0x26 << 0x45 << 0 << QByteArray()
                                      << bytes({ 0x26, 0x00, 0x45, 0x00, 0x00 }) + QByteArray(58, '\0')
            + bytes({ 0x36 });
    const QByteArray numbered = bytes({ 0x2B, 3, 7, 0x01, 0x02, 'a', 'b', 'c' }) + QByteArray(55, '\0');
    QTest::newRow("frame number big-endian")
        << 0x2B << 7 << 0x0102 << QByteArray("abc")
        << numbered + bytes({ hidsim::crc8(reinterpret_cast<const quint8*>(numbered.constData()), 63) });
    QByteArray long70;
    for (int i = 0; i < 70; ++i)
        long70.append(char(0x40 + i));
    QTest::newRow("70 bytes cut to 58") << 0x2B << 1 << 1 << long70 << hidsim::frame1(0x2B, 1, 1, long70.left(58));
}

void TestLink::encodeFormat1()
{
    QFETCH(int, type);
    QFETCH(int, packId);
    QFETCH(int, frameNo);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, expected);

    MeterConfig c = meterConfig(0, "E1", false);
    hidsim::plug(c);
    auto com = openDirect(c.id, 1);
    com->addPack(uchar(type), uchar(packId), ushort(frameNo),
        payload.isNull() ? nullptr : reinterpret_cast<quint8*>(payload.data()), uchar(payload.size()));
    QTRY_COMPARE(hidsim::framesWritten(c.id).size(), 1);
    const QByteArray frame = hidsim::framesWritten(c.id).first();
    QCOMPARE(frame.toHex(' '), expected.toHex(' '));
    QCOMPARE(int(quint8(frame.at(1))), qMin(payload.size(), 58)); // the length byte says the cut length
}

// ------------------------------------------------------------------ decoding

void TestLink::decodeDrops_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("frame");

    QByteArray badHeader = hidsim::frame2(3, identity2(1));
    badHeader[0] = char(0xAB);
    QTest::newRow("f2 start byte 0xAB, valid CRC") << 2 << resealed(badHeader);
    QTest::newRow("f2 bad CRC") << 2 << hidsim::withBadCrc(hidsim::frame2(7));
    QTest::newRow("f2 ack") << 2 << hidsim::frame2(1);
    QTest::newRow("f2 nack") << 2 << hidsim::frame2(2);
    QTest::newRow("f2 unknown 9") << 2 << hidsim::frame2(9);
    QTest::newRow("f2 a command echoed") << 2 << hidsim::frame2(0x81);
    QTest::newRow("f2 given a format-1 reply") << 2 << hidsim::frame1(0x29, 0, 0);
    QTest::newRow("f1 bad CRC") << 1 << hidsim::withBadCrc(hidsim::frame1(0x29, 0, 0));
    QTest::newRow("f1 unknown 0x2A") << 1 << hidsim::frame1(0x2A, 0, 0);
    QTest::newRow("f1 a request echoed") << 1 << hidsim::frame1(0x26, 0x45, 0);
    QTest::newRow("f1 given a format-2 reply") << 1 << hidsim::frame2(7);
    QTest::newRow("format not set") << 0 << hidsim::frame2(7);
}

void TestLink::decodeDrops()
{
    QFETCH(int, format);
    QFETCH(QByteArray, frame);
    Com_Receive r(nullptr);
    r.setFormat(uchar(format));
    DecodeProbe probe(&r);
    decode(r, frame);
    QCOMPARE(probe.emitted, QStringList());
}

void TestLink::decodeDispatch_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("f2 identity") << 2 << hidsim::frame2(3, identity2(5)) << QStringList { "updateDevMsg" };
    QTest::newRow("f2 live data") << 2 << hidsim::frame2(4, QByteArray(60, '\1'))
                                  << QStringList { "dataUpdated", "addRecordFifo" };
    QTest::newRow("f2 curves info") << 2 << hidsim::frame2(5, QByteArray(8, '\1'))
                                    << QStringList { "deviceSendCurvesMessage" };
    QTest::newRow("f2 curves block") << 2 << hidsim::frame2(6, bytes({ 1 })) << QStringList { "deviceSendCurves" };
    QTest::newRow("f2 trigger success") << 2 << hidsim::frame2(7) << QStringList { "deviceSendTrigSuccess" };
    QTest::newRow("f2 trigger fail") << 2 << hidsim::frame2(8) << QStringList { "deviceSendTrigFail" };
    QTest::newRow("f1 identity") << 1 << hidsim::frame1(0x27, 0, 0, QByteArray(8, '\1'))
                                 << QStringList { "updateDevMsg" };
    QTest::newRow("f1 head ack") << 1 << hidsim::frame1(0x29, 0, 0) << QStringList { "updateHeadAck" };
    QTest::newRow("f1 data ack") << 1 << hidsim::frame1(0x2C, 3, 3) << QStringList { "updateDataAck" };
    QTest::newRow("f1 end ack") << 1 << hidsim::frame1(0x31, 0, 0) << QStringList { "updateEndAck" };
    QTest::newRow("f1 crc error") << 1 << hidsim::frame1(0x2D, 0, 0) << QStringList { "updateCrcError" };
    QTest::newRow("f1 invalid data") << 1 << hidsim::frame1(0x30, 0, 0) << QStringList { "updateInvalidData" };
    QByteArray longClaim = hidsim::frame1(0x2C, 0, 0);
    longClaim[1] = char(200);
    QTest::newRow("f1 length byte 200") << 1 << resealed(longClaim) << QStringList { "updateDataAck" };
}

void TestLink::decodeDispatch()
{
    QFETCH(int, format);
    QFETCH(QByteArray, frame);
    QFETCH(QStringList, expected);
    Com_Receive r(nullptr);
    r.setFormat(uchar(format));
    DecodeProbe probe(&r);
    decode(r, frame);
    QCOMPARE(probe.emitted, expected);
}

void TestLink::relays_data()
{
    decodeDispatch_data();
}

void TestLink::relays()
{
    // Each reply of the table above, read on the receive thread: the
    // connection passes it on as its own signal of the same name.
    QFETCH(int, format);
    QFETCH(QByteArray, frame);
    QFETCH(QStringList, expected);
    UsbEvent::instance(); // registers the reply types for the queued hand-over
    const MeterId id = meterId(format == 1 ? 0 : 1, "RELAY");
    hidsim::plug(meterConfig(format == 1 ? 0 : 1, "RELAY", false));
    auto com = openDirect(id, format);
    SignalLog log(com.get());
    hidsim::injectReport(id, frame);
    QTRY_COMPARE(log.names, expected);
}

void TestLink::decodeIdentity()
{
    Com_Receive r2(nullptr);
    r2.setFormat(2);
    DecodeProbe p2(&r2);
    decode(r2,
        hidsim::frame2(3, bytes({ 2, 0x99, 0x05, 0x01, 0x00, 0x01, 0x4E, 0x00, 0x78, 0x56, 0x34, 0x12, 9, 0, 0, 1 })));
    QCOMPARE(int(p2.devMsg.runMode), 2);
    QCOMPARE(int(p2.devMsg.reserved), 0x99);
    QCOMPARE(int(p2.devMsg.bootVersion), 0x0105);
    QCOMPARE(int(p2.devMsg.model), 0x0100);
    QCOMPARE(int(p2.devMsg.appVersion), 78);
    QCOMPARE(p2.devMsg.sn, quint32(0x12345678));
    QCOMPARE(p2.devMsg.runCnt, quint32(0x01000009));

    // Format 1: model byte 5, app 6..7, mode 8, boot 9..10, serial 11..12.
    Com_Receive r1(nullptr);
    r1.setFormat(1);
    DecodeProbe p1(&r1);
    decode(r1, hidsim::frame1(0x27, 9, 0x0304, bytes({ 0x80, 0x6E, 0x00, 1, 0x02, 0x01, 0xFF, 0xFF, 0x77, 0x77 })));
    QCOMPARE(int(p1.devMsg.runMode), 1);
    QCOMPARE(int(p1.devMsg.model), 0x80);
    QCOMPARE(int(p1.devMsg.appVersion), 110);
    QCOMPARE(int(p1.devMsg.bootVersion), 0x0102);
    QCOMPARE(p1.devMsg.sn, quint32(65535));
    QCOMPARE(p1.devMsg.runCnt, quint32(0));
    QCOMPARE(int(p1.devMsg.reserved), 0);
}

void TestLink::decodeTemperatureSign_data()
{
    QTest::addColumn<int>("symbol");
    QTest::addColumn<int>("temp");
    QTest::addColumn<double>("expected");
    QTest::newRow("symbol 0 is negative") << 0 << 253 << -253.0;
    QTest::newRow("symbol 1 is positive") << 1 << 253 << 253.0;
    QTest::newRow("any other symbol is positive") << 0x80 << 253 << 253.0;
    QTest::newRow("largest magnitude") << 0 << 65535 << -65535.0;
}

void TestLink::decodeTemperatureSign()
{
    QFETCH(int, symbol);
    QFETCH(int, temp);
    QFETCH(double, expected);
    // Four samples; only the newest (the fourth) carries this temperature.
    QByteArray payload;
    for (int i = 0; i < 4; ++i) {
        const bool newest = i == 3;
        payload += bytes({ 0x20, 0xA1, 0x07, i, 0xA0, 0x86, 0x01, 0, 0x8C, 0x0A, 0x58, 0x02, newest ? symbol : 1,
            newest ? (temp & 0xFF) : 1, newest ? (temp >> 8) : 0 });
    }
    Com_Receive r(nullptr);
    r.setFormat(2);
    DecodeProbe probe(&r);
    decode(r, hidsim::frame2(4, payload));
    QCOMPARE(probe.param.temp, expected);
    QCOMPARE(probe.param.vol, quint32(0x0307A120));
    QCOMPARE(probe.param.cur, quint32(100000));
    QCOMPARE(int(probe.param.dp), 2700);
    QCOMPARE(int(probe.param.dm), 600);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(&probe.queue), 60), payload);
}

void TestLink::decodeStoredRecording_data()
{
    QTest::addColumn<int>("claimed");
    QTest::addColumn<int>("expected");
    QTest::newRow("no point") << 0 << 0;
    QTest::newRow("three points") << 3 << 3;
    QTest::newRow("seven points") << 7 << 7;
    QTest::newRow("nine claimed, seven taken") << 9 << 7;
    QTest::newRow("255 claimed, seven taken") << 255 << 7;
}

void TestLink::decodeStoredRecording()
{
    QFETCH(int, claimed);
    QFETCH(int, expected);
    QByteArray payload = bytes({ claimed });
    for (int i = 0; i < 60; ++i)
        payload.append(char(0x10 + i));
    const QByteArray frame = hidsim::frame2(6, payload);
    Com_Receive r(nullptr);
    r.setFormat(2);
    DecodeProbe probe(&r);
    decode(r, frame);
    QCOMPARE(probe.blockCount, expected);
    QCOMPARE(probe.block, frame.mid(3, expected * 8));

    decode(r, hidsim::frame2(5, bytes({ 0x03, 0x02, 0xEE, 0xEE, 0x0D, 0x0C, 0x0B, 0x0A })));
    QCOMPARE(int(probe.points), 0x0203);
    QCOMPARE(probe.rate, quint32(0x0A0B0C0D));
}

void TestLink::receiveRingStaysInBounds()
{
    // Reports of every length from 1 to 64 move the ring's write offset to
    // odd places; whole identity frames between them must still decode.
    const MeterId id = meterId(1, "RING");
    hidsim::plug(meterConfig(1, "RING", false));
    Com_UsbHid hid;
    const std::wstring serial = id.serial.toStdWString();
    hid.open(id.vid, id.pid, serial.c_str());
    QVERIFY(hid.isConnected());
    Com_Receive r(&hid);
    r.setFormat(2);
    DecodeProbe probe(&r);

    int identities = 0;
    for (int round = 0; round < 3; ++round) {
        for (int n = 1; n <= 64; ++n) {
            hidsim::injectReport(id, QByteArray(n, '\0'));
            if (n % 5 == 0) {
                hidsim::injectReport(id, hidsim::frame2(3, identity2(quint32(n))));
                ++identities;
            }
        }
    }
    for (int i = 0; i < 64 * 3 + identities + 5; ++i)
        r.receive();
    QCOMPARE(probe.emitted.count("updateDevMsg"), identities);
    QCOMPARE(probe.emitted.size(), identities);
    QCOMPARE(probe.devMsg.sn, quint32(60));
}

void TestLink::shortReportReplaysNothing_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("one byte") << 1;
    QTest::newRow("63 bytes") << 63;
}

void TestLink::shortReportReplaysNothing()
{
    // An identity report, then fifteen more bring the ring back to its slot;
    // a short report there leaves the rest of the old one behind it.
    QFETCH(int, length);
    const MeterId id = meterId(1, "SHORT");
    hidsim::plug(meterConfig(1, "SHORT", false));
    Com_UsbHid hid;
    const std::wstring serial = id.serial.toStdWString();
    hid.open(id.vid, id.pid, serial.c_str());
    Com_Receive r(&hid);
    r.setFormat(2);
    DecodeProbe probe(&r);

    const QByteArray identity = hidsim::frame2(3, identity2(7));
    hidsim::injectReport(id, identity);
    for (int i = 0; i < 15; ++i)
        hidsim::injectReport(id, hidsim::frame2(1));
    hidsim::injectReport(id, identity.left(length));
    for (int i = 0; i < 17; ++i)
        r.receive();
    QCOMPARE(probe.emitted, QStringList { "updateDevMsg" });
}

// --------------------------------------------------------------- conversions

void TestLink::conversions_data()
{
    QTest::addColumn<quint32>("vol");
    QTest::addColumn<quint32>("cur");
    QTest::addColumn<int>("dp");
    QTest::addColumn<int>("dm");
    QTest::addColumn<double>("temp");
    QTest::addColumn<QVector<double>>("expected"); // VBUS IBUS DP DM PBUS IMPD TEMP

    QTest::newRow("5 V 1 A") << 500000u << 100000u << 0 << 0 << 250.0
                             << QVector<double> { 5.0, 1.0, 0.0, 0.0, 5.0, 5.0, 25.0 };
    QTest::newRow("no voltage") << 0u << 100000u << 0 << 0 << 250.0
                                << QVector<double> { 0.0, 1.0, 0.0, 0.0, 0.0, 9999998.99999, 25.0 };
    QTest::newRow("no current") << 500000u << 0u << 0 << 0 << 250.0
                                << QVector<double> { 5.0, 0.0, 0.0, 0.0, 0.0, 9999998.99999, 25.0 };
    QTest::newRow("power truncated to 10 uW")
        << 123457u << 99999u << 0 << 0 << 250.0
        << QVector<double> { 1.23457, 0.99999, 0.0, 0.0, 1.23455, 1.23457 / 0.99999, 25.0 };
    QTest::newRow("data lines and cold") << 500000u << 100000u << 2700 << 600 << -53.0
                                         << QVector<double> { 5.0, 1.0, 2.7, 0.6, 5.0, 5.0, -5.3 };
    QTest::newRow("power beyond 32 bits") << 4000000000u << 4000000000u << 0 << 0 << 0.0
                                          << QVector<double> { 40000.0, 40000.0, 0.0, 0.0, 1600000000.0, 1.0, 0.0 };
}

void TestLink::conversions()
{
    QFETCH(quint32, vol);
    QFETCH(quint32, cur);
    QFETCH(int, dp);
    QFETCH(int, dm);
    QFETCH(double, temp);
    QFETCH(QVector<double>, expected);

    Com_Layer com;
    QSignalSpy spy(&com, &Com_Layer::dataUpdated);
    com.updateParamSlot(DEV_PARAM_T { vol, cur, quint16(dp), quint16(dm), temp });
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().first().value<UsbParam*>(), &com.usbParam);
    for (int i = 0; i < 7; ++i) {
        const double got = com.usbParam.getParam(UsbParam::usb_param_e(i));
        QVERIFY2(qFuzzyCompare(got + 1.0, expected.at(i) + 1.0) || qFuzzyCompare(got, expected.at(i)),
            qPrintable(QStringLiteral("entry %1: %2 instead of %3").arg(i).arg(got, 0, 'g', 12).arg(expected.at(i))));
    }
}

void TestLink::readingsStartValues()
{
    UsbParam p;
    QCOMPARE(p.getParam(UsbParam::USB_PARAM_TEMP), 25.0);
    for (int i = 0; i < 6; ++i)
        QCOMPARE(p.getParam(UsbParam::usb_param_e(i)), 0.0);
    QCOMPARE(p.getParam(UsbParam::usb_param_e(7)), 0.0);
    p.setParam(3.0, UsbParam::usb_param_e(7));
    p.setParam(3.0, UsbParam::usb_param_e(-1));
    QCOMPARE(p.getParam(UsbParam::usb_param_e(7)), 0.0);
    QCOMPARE(p.getParam(UsbParam::USB_PARAM_VBUS), 0.0);
}

// ------------------------------------------------------- sign-in, keep-alive

void TestLink::signInFormat2ThenKeepAlive()
{
    const MeterId id = meterId(1, "S2");
    hidsim::plug(meterConfig(1, "S2", false));
    auto com = openDirect(id, 2);
    QSignalSpy times(com.get(), &Com_Layer::updateConnectTime);
    QSignalSpy ids(com.get(), &Com_Layer::updateDevMsg);

    // A meter that never answers is asked every second, and the time still counts.
    for (int i = 0; i < 3; ++i)
        com->existTimeSlot();
    QTRY_COMPARE(hidsim::countWritten(id, 0x81), 3);
    QCOMPARE(times.count(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(times.at(i).at(1).value<quint64>(), quint64(i + 1));
    QVERIFY(!com->isSignIn);

    hidsim::setAnswersIdentity(id, true);
    com->existTimeSlot();
    QTRY_COMPARE(ids.count(), 1);
    QVERIFY(com->isSignIn);

    hidsim::clearWriteLog(id);
    for (int i = 0; i < 3; ++i)
        com->existTimeSlot();
    com->addPack(0x87, nullptr, 0); // marker: everything before it has been sent once it arrives
    QTRY_COMPARE(hidsim::countWritten(id, 0x87), 1);
    const QList<QByteArray> frames = hidsim::framesWritten(id);
    QCOMPARE(frames.size(), 4);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(quint8(frames.at(i).at(1)), quint8(0x83));
}

void TestLink::signInFormat1ThenNothing()
{
    const MeterId id = meterId(0, "S1");
    MeterConfig c = meterConfig(0, "S1", true);
    c.identity.runMode = 1;
    hidsim::plug(c);
    auto com = openDirect(id, 1);
    QSignalSpy ids(com.get(), &Com_Layer::updateDevMsg);

    com->existTimeSlot();
    QTRY_COMPARE(ids.count(), 1);
    QCOMPARE(hidsim::countWritten(id, 0x26), 1);
    QCOMPARE(int(com->devMsg.runMode), 1);
    QCOMPARE(com->devMsg.sn, quint32(123)); // 16 bits, whatever follows them

    hidsim::clearWriteLog(id);
    for (int i = 0; i < 3; ++i)
        com->existTimeSlot();
    com->addPack(0x30, 0, 0, nullptr, 0); // marker
    QTRY_COMPARE(hidsim::framesWritten(id).size(), 1);
    QCOMPARE(quint8(hidsim::framesWritten(id).first().at(0)), quint8(0x30));
}

void TestLink::signInOnRealTimer()
{
    const MeterId id = meterId(2, "RT");
    hidsim::plug(meterConfig(2, "RT", false));
    Com_Layer com;
    QSignalSpy times(&com, &Com_Layer::updateConnectTime);
    const std::wstring serial = id.serial.toStdWString();
    com.hid->open(id.vid, id.pid, serial.c_str());
    com.setCommunicateFormat(2);
    com.openReceiveAndSend();

    QTRY_VERIFY_WITH_TIMEOUT(times.count() >= 3, 15000);
    for (int i = 0; i < times.count(); ++i)
        QCOMPARE(times.at(i).at(1).value<quint64>(), quint64(i + 1));
    QTRY_VERIFY_WITH_TIMEOUT(hidsim::countWritten(id, 0x81) >= 3, 5000);
    QCOMPARE(hidsim::countWritten(id, 0x83), 0);
}

void TestLink::everyIdentityReplyIsRelayed()
{
    const MeterId id = meterId(1, "TWICE");
    hidsim::plug(meterConfig(1, "TWICE", false));
    auto com = openDirect(id, 2);
    QSignalSpy ids(com.get(), &Com_Layer::updateDevMsg);
    hidsim::injectReport(id, hidsim::frame2(3, identity2(1)));
    hidsim::injectReport(id, hidsim::frame2(3, identity2(2)));
    QTRY_COMPARE(ids.count(), 2);
    QCOMPARE(ids.at(0).at(0).value<Com_Layer*>(), com.get());
    QCOMPARE(ids.at(0).at(1).value<DEV_MSG_T>().sn, quint32(1));
    QCOMPARE(com->devMsg.sn, quint32(2));
}

void TestLink::connectTimeStopsAtMaximum()
{
    Com_Layer com;
    com.connectTimer->stop();
    QSignalSpy times(&com, &Com_Layer::updateConnectTime);
    com.connectTime = std::numeric_limits<uint64_t>::max() - 1;
    com.existTimeSlot();
    com.existTimeSlot();
    QCOMPARE(times.count(), 1);
    QCOMPARE(com.getConnectTime(), std::numeric_limits<quint64>::max());
}

// -------------------------------------------------------------- send queue

void TestLink::framesLeaveInOrderPaced()
{
    const MeterId id = meterId(3, "ORDER");
    hidsim::plug(meterConfig(3, "ORDER", false));
    auto com = openDirect(id, 2);
    // Four frames in one GUI event.
    for (uchar code : { 0x84, 0x85, 0x86, 0x87 })
        com->addPack(code, nullptr, 0);
    QTRY_COMPARE(hidsim::framesWritten(id).size(), 4);
    const QList<hidsim::WrittenFrame> log = hidsim::writeLog(id);
    QCOMPARE(log.size(), 4);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(log.at(i).bytes.size(), 65);
        QCOMPARE(log.at(i).bytes.at(0), '\0');
        QCOMPARE(quint8(log.at(i).bytes.at(2)), quint8(0x84 + i));
        if (i > 0)
            QVERIFY2(log.at(i).usec - log.at(i - 1).usec >= 10000,
                qPrintable(QString::number(log.at(i).usec - log.at(i - 1).usec)));
    }
}

void TestLink::failingWrite_data()
{
    QTest::addColumn<int>("refusals");
    QTest::addColumn<QList<int>>("sent");
    QTest::newRow("accepted at the 150th attempt") << 149 << QList<int> { 0x84, 0x85 };
    QTest::newRow("dropped after 150 attempts") << 150 << QList<int> { 0x85 };
}

void TestLink::failingWrite()
{
    QFETCH(int, refusals);
    QFETCH(QList<int>, sent);
    const MeterId id = meterId(4, "REFUSE");
    hidsim::plug(meterConfig(4, "REFUSE", false));
    auto com = openDirect(id, 2);
    hidsim::refuseWrites(id, refusals);
    com->addPack(0x84, nullptr, 0);
    com->addPack(0x85, nullptr, 0);
    QTRY_COMPARE_WITH_TIMEOUT(hidsim::countWritten(id, 0x85), 1, 10000);
    QList<int> codes;
    for (const QByteArray& f : hidsim::framesWritten(id))
        codes << quint8(f.at(1));
    QCOMPARE(codes, sent);
    QCOMPARE(refusedCount(id), refusals);
}

void TestLink::fullQueueDropsSeventeenth()
{
    const MeterId id = meterId(5, "FULL");
    hidsim::plug(meterConfig(5, "FULL", false));
    auto com = openDirect(id, 2);
    // Nothing leaves while this GUI event runs, so the queue fills up.
    for (int i = 0; i < 17; ++i) {
        quint8 n = quint8(i);
        com->addPack(0x88, &n, 1);
    }
    QTRY_COMPARE(hidsim::framesWritten(id).size(), 16);
    quint8 marker = 0xEE;
    com->addPack(0x88, &marker, 1);
    QTRY_COMPARE(hidsim::framesWritten(id).size(), 17);
    const QList<QByteArray> frames = hidsim::framesWritten(id);
    for (int i = 0; i < 16; ++i)
        QCOMPARE(frames.at(i), hidsim::frame2(0x88, bytes({ i })));
    QCOMPARE(frames.at(16), hidsim::frame2(0x88, bytes({ 0xEE })));
}

void TestLink::deleteJoinsThreadsAndCloses()
{
    const MeterId id = meterId(1, "DEL");
    hidsim::plug(meterConfig(1, "DEL", true));
    auto com = openDirect(id, 2);
    QPointer<QThread> tr = com->threadReceive;
    QPointer<QThread> ts = com->threadSend;
    QPointer<Com_Receive> receive = com->receive;
    QPointer<Com_Send> send = com->send;
    QVERIFY(tr && tr->isRunning() && ts && ts->isRunning());
    QVERIFY(receive->thread() == tr.data() && send->thread() == ts.data());
    QCOMPARE(hidsim::openHandles(id), 1);
    com->addPack(0x82, nullptr, 0);
    QTRY_VERIFY(hidsim::isStreaming(id));
    com.reset();
    QVERIFY(!receive);
    QVERIFY(!send);
    QVERIFY(!tr);
    QVERIFY(!ts);
    QCOMPARE(hidsim::openHandles(id), 0);
}

void TestLink::deleteWithRefusingMeterDoesNotRetry()
{
    // A meter that refuses every write: each queued frame would hold the send
    // thread 1.5 s. Deleting the connection must not sit through the retries.
    const MeterId id = meterId(1, "STUCK");
    hidsim::plug(meterConfig(1, "STUCK", false));
    auto com = openDirect(id, 2);
    hidsim::refuseWrites(id, -1);
    for (int i = 0; i < 16; ++i)
        com->addPack(0x83, nullptr, 0);
    QTRY_VERIFY(refusedCount(id) >= 1);
    com.reset();
    // At most the attempts made before the delete, plus one per pending frame.
    QVERIFY2(refusedCount(id) < 150, qPrintable(QString::number(refusedCount(id))));
    QCOMPARE(hidsim::openHandles(id), 0);
}

void TestLink::deleteAfterFailedOpen()
{
    auto com = std::make_unique<Com_Layer>();
    com->hid->open(0x1209, 0x7351, L"nobody");
    QVERIFY(!com->hid->isConnected());
    QVERIFY(!com->threadReceive && !com->threadSend && !com->readWritetimer);
    com->addPack(0x81, nullptr, 0); // nothing to queue into: dropped, no crash
    com.reset();
}

void TestLink::writeWithoutPayloadSendsZeros()
{
    const MeterId id = meterId(1, "ZERO");
    hidsim::plug(meterConfig(1, "ZERO", false));
    Com_UsbHid hid;
    const std::wstring serial = id.serial.toStdWString();
    hid.open(id.vid, id.pid, serial.c_str());
    QVERIFY(hid.isConnected());
    QByteArray filled = hidsim::frame2(0x88, QByteArray(61, char(0x5A)));
    hid.sendData(0, reinterpret_cast<quint8*>(filled.data()), 64);
    hid.sendData(0, nullptr, 64);
    const QList<hidsim::WrittenFrame> log = hidsim::writeLog(id);
    QCOMPARE(log.size(), 2);
    QCOMPARE(log.at(1).bytes, QByteArray(65, '\0'));
}

// ------------------------------------------------------------------ registry

void TestLink::registryStartupOrder()
{
    hidsim::plug(meterConfig(3, "B", false));
    hidsim::plug(meterConfig(2, "X", false));
    hidsim::plug(meterConfig(3, "A", false));
    hidsim::plug(meterConfig(0, "F", false));

    QSharedPointer<UsbEvent> app = UsbEvent::instance();
    struct Seen
    {
        int index, count, format;
        bool threadsStarted;
    };
    QList<Seen> seen;
    connect(app.data(), &UsbEvent::hidDevArrival, this, [&](int index) {
        Com_Layer* newest = app->allComLayer.at(app->getDeviceCount() - 1);
        seen.append({ index, app->getDeviceCount(), newest->getCommunicateFormat(), newest->receive != nullptr });
    });
    app->hidDevArrivalSlot();

    QCOMPARE(seen.size(), 4);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(seen.at(i).index, i);
        QCOMPARE(seen.at(i).count, i + 1);
        QCOMPARE(seen.at(i).format, i == 0 ? 1 : 2);
        QVERIFY(!seen.at(i).threadsStarted); // no reply before the pages listen
    }
    QCOMPARE(app->existSN, QList<std::wstring>({ L"F", L"X", L"B", L"A" }));
    QCOMPARE(app->existPID.first(), knownMeters[0].pid);
    for (Com_Layer* com : app->allComLayer)
        QVERIFY(com->threadReceive && com->threadReceive->isRunning());

    app->hidDevArrivalSlot(); // nothing new
    QCOMPARE(seen.size(), 4);
    QCOMPARE(int(app->getDeviceCount()), 4);
    QCOMPARE(hidsim::openHandles(meterId(3, "A")), 1);
}

void TestLink::registryFailedOpen()
{
    const MeterId id = meterId(1, "LOCKED");
    hidsim::plug(meterConfig(1, "LOCKED", false));
    hidsim::failOpens(id, -1);
    QSharedPointer<UsbEvent> app = UsbEvent::instance();
    QSignalSpy arrivals(app.data(), &UsbEvent::hidDevArrival);
    app->hidDevArrivalSlot();
    QCOMPARE(arrivals.count(), 0);
    QCOMPARE(int(app->getDeviceCount()), 0);
    QVERIFY(app->allComLayer.isEmpty() && app->existSN.isEmpty());
    QCOMPARE(hidsim::openHandles(id), 0);

    hidsim::failOpens(id, 0); // tried again at the next arrival
    app->hidDevArrivalSlot();
    QCOMPARE(arrivals.count(), 1);
    QCOMPARE(int(app->getDeviceCount()), 1);
}

void TestLink::registryRemoval_data()
{
    QTest::addColumn<QStringList>("unplugged");
    QTest::addColumn<QList<int>>("removed");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("meter 1 of 3") << QStringList { "M1" } << QList<int> { 1 } << QStringList { "M0", "M2" };
    QTest::newRow("meters 0 and 1 together")
        << QStringList { "M0", "M1" } << QList<int> { 0, 0 } << QStringList { "M2" };
    QTest::newRow("the last") << QStringList { "M2" } << QList<int> { 2 } << QStringList { "M0", "M1" };
    QTest::newRow("none") << QStringList {} << QList<int> {} << QStringList { "M0", "M1", "M2" };
}

void TestLink::registryRemoval()
{
    QFETCH(QStringList, unplugged);
    QFETCH(QList<int>, removed);
    QFETCH(QStringList, left);

    for (const QString& sn : QStringList { "M0", "M1", "M2" }) {
        MeterConfig c = meterConfig(2, sn, true);
        c.identity.sn = quint32(sn.mid(1).toInt() + 100);
        hidsim::plug(c);
    }
    QSharedPointer<UsbEvent> app = UsbEvent::instance();
    app->hidDevArrivalSlot();
    QCOMPARE(int(app->getDeviceCount()), 3);
    for (Com_Layer* com : app->allComLayer)
        com->connectTimer->stop(); // this test drives the seconds itself

    QList<int> indices;
    QList<int> countsDuring;
    QList<int> connectionsDuring;
    connect(app.data(), &UsbEvent::hidDevDisconnected, this, [&](int index) {
        indices << index;
        countsDuring << app->getDeviceCount();
        connectionsDuring << app->allComLayer.size();
    });
    for (const QString& sn : unplugged)
        hidsim::unplug(meterId(2, sn));
    app->hidDevRemoveSlot();

    QCOMPARE(indices, removed);
    QList<int> expectedCounts, expectedConnections;
    for (int i = 0; i < removed.size(); ++i) {
        expectedCounts << 3 - i - 1; // lowered before the signal
        expectedConnections << 3 - i; // the connection still exists during it
    }
    QCOMPARE(countsDuring, expectedCounts);
    QCOMPARE(connectionsDuring, expectedConnections);
    QCOMPARE(int(app->getDeviceCount()), left.size());
    QCOMPARE(app->allComLayer.size(), left.size());
    QList<std::wstring> expectedSN;
    for (const QString& sn : left)
        expectedSN << sn.toStdWString();
    QCOMPARE(app->existSN, expectedSN);
    for (const QString& sn : unplugged)
        QCOMPARE(hidsim::openHandles(meterId(2, sn)), 0);

    // The last meter answers under its new index.
    QSignalSpy times(app.data(), &UsbEvent::updateConnectTime);
    QSignalSpy ids(app.data(), &UsbEvent::updateDevMsg);
    const int last = left.size() - 1;
    app->allComLayer.at(last)->existTimeSlot();
    QCOMPARE(times.count(), 1);
    QCOMPARE(times.first().at(0).toInt(), last);
    QTRY_COMPARE(ids.count(), 1);
    QCOMPARE(ids.first().at(0).toInt(), last);
    QCOMPARE(ids.first().at(1).value<DEV_MSG_T>().sn, quint32(left.last().mid(1).toInt() + 100));

    // A meter plugged in again is a new meter with a new, last index.
    QSignalSpy arrivals(app.data(), &UsbEvent::hidDevArrival);
    for (const QString& sn : unplugged)
        hidsim::plug(meterConfig(2, sn, false));
    app->hidDevArrivalSlot();
    QCOMPARE(arrivals.count(), unplugged.size());
    for (int i = 0; i < arrivals.count(); ++i)
        QCOMPARE(arrivals.at(i).at(0).toInt(), left.size() + i);
    QCOMPARE(int(app->getDeviceCount()), 3);
    if (!unplugged.isEmpty())
        QCOMPARE(app->existSN.last(), unplugged.last().toStdWString());
}

void TestLink::registryIdentityStartsStream()
{
    const MeterId f2 = meterId(1, "F2");
    const MeterId f1 = meterId(0, "F1");
    hidsim::plug(meterConfig(1, "F2", true));
    hidsim::plug(meterConfig(0, "F1", true));
    QSharedPointer<UsbEvent> app = UsbEvent::instance();

    // A page binds to the newest connection inside the arrival signal.
    QStringList order;
    connect(app.data(), &UsbEvent::hidDevArrival, this, [&](int index) {
        Com_Layer* com = app->allComLayer.at(index);
        com->connectTimer->stop();
        connect(
            com, &Com_Layer::updateDevMsg, this, [&order, index] { order << QStringLiteral("page %1").arg(index); });
    });
    connect(app.data(), &UsbEvent::updateDevMsg, this,
        [&order](int index) { order << QStringLiteral("registry %1").arg(index); });
    app->hidDevArrivalSlot();
    QCOMPARE(app->allComLayer.size(), 2);
    Com_Layer* com1 = app->allComLayer.at(0); // format 1 comes first in the table
    Com_Layer* com2 = app->allComLayer.at(1);
    QCOMPARE(int(com1->getCommunicateFormat()), 1);

    com2->getDeviceMessage();
    QTRY_COMPARE(order.size(), 2);
    QCOMPARE(order, QStringList({ "page 1", "registry 1" }));
    QTRY_COMPARE(hidsim::countWritten(f2, 0x82), 1);
    QVERIFY(hidsim::isStreaming(f2));

    // A second identity reply restarts the stream once more.
    hidsim::injectReport(f2, hidsim::frame2(3, identity2(9)));
    QTRY_COMPARE(order.size(), 4);
    QTRY_COMPARE(hidsim::countWritten(f2, 0x82), 2);

    // Format 1: the signal, and no frame.
    com1->getDeviceMessage();
    QTRY_COMPARE(order.size(), 6);
    QCOMPARE(order.mid(4), QStringList({ "page 0", "registry 0" }));
    com1->addPack(0x30, 0, 0, nullptr, 0); // marker
    QTRY_COMPARE(hidsim::framesWritten(f1).size(), 2);
    QCOMPARE(quint8(hidsim::framesWritten(f1).at(0).at(0)), quint8(0x26));
    QCOMPARE(quint8(hidsim::framesWritten(f1).at(1).at(0)), quint8(0x30));
    QCOMPARE(hidsim::countWritten(f2, 0x82), 2);
}

void TestLink::registryEndToEnd()
{
    // Arrival, sign-in on the real 1 s timer, live stream, readings, removal.
    const MeterId id = meterId(2, "E2E");
    hidsim::plug(meterConfig(2, "E2E", true));
    hidsim::Sample s;
    s.vol = 500000;
    s.cur = 100000;
    s.dp = 2700;
    s.dm = 600;
    s.temp = -53;
    hidsim::setSample(id, s);

    QSharedPointer<UsbEvent> app = UsbEvent::instance();
    QSignalSpy ids(app.data(), &UsbEvent::updateDevMsg);
    QSignalSpy times(app.data(), &UsbEvent::updateConnectTime);
    app->hidDevArrivalSlot();
    QCOMPARE(int(app->getDeviceCount()), 1);
    Com_Layer* com = app->allComLayer.first();
    QSignalSpy fifo(com, &Com_Layer::addRecordFifo);

    QTRY_COMPARE_WITH_TIMEOUT(ids.count() >= 1, true, 10000);
    QCOMPARE(ids.first().at(0).toInt(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(com->usbParam.getParam(UsbParam::USB_PARAM_VBUS), 5.0, 5000);
    QCOMPARE(com->usbParam.getParam(UsbParam::USB_PARAM_IBUS), 1.0);
    QCOMPARE(com->usbParam.getParam(UsbParam::USB_PARAM_PBUS), 5.0);
    QCOMPARE(com->usbParam.getParam(UsbParam::USB_PARAM_IMPD), 5.0);
    QCOMPARE(com->usbParam.getParam(UsbParam::USB_PARAM_DP), 2.7);
    QCOMPARE(com->usbParam.getParam(UsbParam::USB_PARAM_DM), 0.6);
    QCOMPARE(com->usbParam.getParam(UsbParam::USB_PARAM_TEMP), -5.3);
    QTRY_VERIFY(fifo.count() >= 3);
    QCOMPARE(hidsim::blockingReads(id), 0); // a read never waits for the meter
    QVERIFY(times.count() >= 1);
    QCOMPARE(times.first().at(0).toInt(), 0);
    QCOMPARE(int(com->devMsg.runMode), 2);
    QCOMPARE(app->modelMap.value(com->devMsg.model), QStringLiteral("KD-VX350"));

    QSignalSpy gone(app.data(), &UsbEvent::hidDevDisconnected);
    hidsim::unplug(id);
    app->hidDevRemoveSlot();
    QCOMPARE(gone.count(), 1);
    QCOMPARE(int(app->getDeviceCount()), 0);
    QCOMPARE(hidsim::openHandles(id), 0);
}

void TestLink::registryUnplugMidStream()
{
    const MeterId id = meterId(4, "GONE");
    hidsim::plug(meterConfig(4, "GONE", true));
    QSharedPointer<UsbEvent> app = UsbEvent::instance();
    app->hidDevArrivalSlot();
    Com_Layer* com = app->allComLayer.first();
    QSignalSpy fifo(com, &Com_Layer::addRecordFifo);
    QTRY_VERIFY_WITH_TIMEOUT(fifo.count() >= 1, 10000);

    // Reads and writes fail from now on; the connection lives on until the
    // removal check, through at least one more second of keep-alives.
    QSignalSpy times(com, &Com_Layer::updateConnectTime);
    hidsim::unplug(id);
    QTRY_VERIFY_WITH_TIMEOUT(times.count() >= 2, 10000);
    app->hidDevRemoveSlot();
    QCOMPARE(int(app->getDeviceCount()), 0);
    QVERIFY(app->allComLayer.isEmpty());
}

void TestLink::registryNoSerial_data()
{
    QTest::addColumn<QStringList>("plugged"); // in plug order; "" has no serial string
    QTest::newRow("alone") << QStringList { "" };
    QTest::newRow("after a meter with a serial") << QStringList { "A", "" };
    QTest::newRow("before a meter with a serial") << QStringList { "", "A" };
}

void TestLink::registryNoSerial()
{
    QFETCH(QStringList, plugged);
    QList<std::wstring> keys;
    for (const QString& sn : plugged) {
        MeterConfig c = meterConfig(1, sn, false);
        c.hasSerial = !sn.isEmpty();
        hidsim::plug(c);
        keys << sn.toStdWString();
    }
    QSharedPointer<UsbEvent> app = UsbEvent::instance();
    QSignalSpy arrivals(app.data(), &UsbEvent::hidDevArrival);
    QSignalSpy gone(app.data(), &UsbEvent::hidDevDisconnected);
    app->hidDevArrivalSlot();
    app->hidDevArrivalSlot();
    QCOMPARE(arrivals.count(), plugged.size());
    QCOMPARE(app->existSN, keys); // keyed by the empty string
    // Each meter has a connection of its own: the one without a serial is
    // opened by its path, not as the first meter of its ids.
    for (const QString& sn : plugged)
        QCOMPARE(hidsim::openHandles(meterId(1, sn)), 1);
    app->hidDevRemoveSlot();
    QCOMPARE(gone.count(), 0);

    for (const QString& sn : plugged) {
        hidsim::unplug(meterId(1, sn));
        app->hidDevRemoveSlot();
        QCOMPARE(gone.count(), plugged.indexOf(sn) + 1);
        QCOMPARE(gone.last().at(0).toInt(), 0);
    }
    QVERIFY(app->allComLayer.isEmpty());
}

void TestLink::registryDuplicateSerial_data()
{
    QTest::addColumn<int>("secondRow"); // of the known-meter table; the first meter is on row 2
    QTest::addColumn<int>("opened");
    QTest::newRow("same ids: taken for the first") << 2 << 1;
    QTest::newRow("other product id: a meter of its own") << 3 << 2;
}

void TestLink::registryDuplicateSerial()
{
    QFETCH(int, secondRow);
    QFETCH(int, opened);
    hidsim::plug(meterConfig(2, "SAME", false));
    hidsim::plug(meterConfig(secondRow, "SAME", false));
    QSharedPointer<UsbEvent> app = UsbEvent::instance();
    QSignalSpy arrivals(app.data(), &UsbEvent::hidDevArrival);
    app->hidDevArrivalSlot();
    QCOMPARE(arrivals.count(), opened);
    QCOMPARE(int(app->getDeviceCount()), opened);
}

void TestLink::registryModelsAndTable()
{
    QSharedPointer<UsbEvent> app = UsbEvent::instance();
    QCOMPARE(app->modelMap.value(0x0100), QStringLiteral("KD-VX350"));
    QVERIFY(!app->modelMap.contains(0x0101));
    QCOMPARE(app->modelMap.size(), 1);

    std::set<std::pair<int, int>> pairs;
    QCOMPARE(app->allVID.size(), 6);
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(app->allVID.at(i), knownMeters[size_t(i)].vid);
        QCOMPARE(app->allPID.at(i), knownMeters[size_t(i)].pid);
        pairs.insert({ knownMeters[size_t(i)].vid, knownMeters[size_t(i)].pid });
    }
    QCOMPARE(int(pairs.size()), 6);
}

void TestLink::registryRemoveAllAtShutdown()
{
    for (const QString& sn : QStringList { "Z0", "Z1", "Z2" })
        hidsim::plug(meterConfig(2, sn, true));
    QSharedPointer<UsbEvent> app = UsbEvent::instance();
    app->hidDevArrivalSlot();
    QCOMPARE(app->allComLayer.size(), 3);

    QList<int> deleted;
    QList<QPointer<QThread>> threads;
    for (int i = 0; i < 3; ++i) {
        Com_Layer* com = app->allComLayer.at(i);
        connect(com, &QObject::destroyed, this, [&deleted, i] { deleted << i; });
        threads << com->threadReceive << com->threadSend;
    }
    QSignalSpy gone(app.data(), &UsbEvent::hidDevDisconnected);
    app->removeAllDev();

    QCOMPARE(deleted, QList<int>({ 2, 1, 0 })); // last first
    QCOMPARE(gone.count(), 0);
    QVERIFY(app->allComLayer.isEmpty());
    QVERIFY(app->existSN.isEmpty());
    // The rest stays as it was: nothing is scanned after shutdown.
    QCOMPARE(app->existVID.size(), 3);
    QCOMPARE(app->existPID.size(), 3);
    QCOMPARE(int(app->getDeviceCount()), 3);
    for (const QPointer<QThread>& t : threads)
        QVERIFY(!t);
    for (const QString& sn : QStringList { "Z0", "Z1", "Z2" })
        QCOMPARE(hidsim::openHandles(meterId(2, sn)), 0);
}

void TestLink::voltageTable()
{
    SuportProtocol table(nullptr);
    QCOMPARE(table.allProtVol.size(), 5);
    const QList<int> counts { 4, 83, 3, 336, 2 };
    for (int p = 0; p < 5; ++p)
        QCOMPARE(table.allProtVol.at(p).size(), counts.at(p));
    QCOMPARE(table.allProtVol.at(0), QList<int>({ 5000, 9000, 12000, 20000 }));
    QCOMPARE(table.allProtVol.at(1).at(0), 3600);
    QCOMPARE(table.allProtVol.at(1).at(7), 5000);
    QCOMPARE(table.allProtVol.at(1).last(), 20000);
    QCOMPARE(table.allProtVol.at(2), QList<int>({ 5000, 9000, 12000 }));
    QCOMPARE(table.allProtVol.at(3).at(0), 3300);
    QCOMPARE(table.allProtVol.at(3).at(85), 5000);
    QCOMPARE(table.allProtVol.at(3).last(), 10000);
    QCOMPARE(table.allProtVol.at(4), QList<int>({ 9000, 12000 }));
}

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
