#pragma once

#include "datastructure.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QVector>

#include <cstdint>
#include <functional>

class UsbParam;

// The largest and smallest value of one channel.
typedef struct extremum_data_t
{
    qreal extremum[2]; // [RECORD_MAX], [RECORD_MIN]
} EXTREMUM_DATA_T;

// One live sample converted to volts, amperes and watts.
typedef struct record_t
{
    double vbus; // V
    double ibus; // A
    double pbus; // W
    double dp; // V
    double dm; // V
} RECORD_T;

constexpr int RECORD_FIFO_SIZE = 1024;

// Live samples waiting for the next recording tick. Empty when front == rear;
// one slot stays free, so it holds at most 1023 samples.
typedef struct record_fifo_t
{
    uint16_t front; // next sample to read
    uint16_t rear; // next slot to write
    RECORD_T buf[RECORD_FIFO_SIZE];
} RECORD_FIFO_T;

Q_DECLARE_METATYPE(EXTREMUM_DATA_T)

// The recorder of one curves page. Lives on a thread of its own: the live
// samples of the meter collect in a ring, and each 10 ms recording tick checks
// the start and stop conditions and keeps every n-th sample for the chosen
// rate, with the extrema and the accumulated capacity and energy. It also
// takes the blocks of a recording read back from the meter.
//
// Locking: mutex guards every field, the ring included. The slots
// run in the recorder's thread, the plain operations are called from the GUI
// thread at any time; both take the mutex. No signal is emitted while it is
// held (the page's handlers call back in). UsbParam's own lock may be taken
// while holding it, never the other way round.
class UsbRecParam : public QObject
{
    Q_OBJECT
public:
    enum RECORD_TYPE_E
    {
        RECORD_TYPE_VBUS = 0, // V
        RECORD_TYPE_IBUS, // A
        RECORD_TYPE_DP, // V
        RECORD_TYPE_DM, // V
        RECORD_TYPE_PBUS, // W
        RECORD_TYPE_CAP, // Ah
        RECORD_TYPE_NRG, // Wh
    };
    static constexpr int RECORD_TYPE_COUNT = 7;
    static constexpr int RECORD_EXTREMUM_COUNT = 5; // VBUS to PBUS have extrema

    enum RECORD_EXTREMUM_E
    {
        RECORD_MAX = 0,
        RECORD_MIN = 1,
    };

    explicit UsbRecParam(QObject* parent = nullptr);
    ~UsbRecParam() override;

    // A rate the recorder can run at: finite, positive, and with an interval
    // (1000 / rate ms) that fits an int.
    static bool isValidSampleRate(double rate);

    // A rate that is not valid is ignored; the recorder keeps its rate.
    void setSampleRate(double rate);
    double getSampleRate() const;
    int getInterval() const;
    void setStartCurrent(int mA);
    int getStartCurrent() const;
    void setStopCurrent(int mA);
    int getStopCurrent() const;
    void setStopTime(int s);
    int getStopTime() const;
    void setRecordedCount(int count);
    int getRecordedCount() const;
    void setMasterSwitch(bool on);
    bool getMasterSwitch() const;
    void setSwitchAll(bool on);
    bool isSwitchOpened(int i) const;
    bool isHaveOpenedSwitch() const;
    QList<quint16> getRecordingList() const;
    void setExtremum(int channel, int which, double value);
    double getExtremum(int channel, int which) const;
    void addRecordTime(double t);
    void addOneRecordParam(RECORD_TYPE_E channel, double value);
    QVector<double> getRecordParam(RECORD_TYPE_E channel) const;
    QVector<double> getRecordTime() const;
    // Replaces the time list and the channel lists (by RECORD_TYPE_E; those
    // not given are emptied) in one step, sharing the lists given. The
    // recorded count is left to setRecordedCount.
    void setRecording(const QVector<double>& times, const QVector<QVector<double>>& lists);
    void clearRecordFifo();

    // Hands the time list and the seven channel lists to reader while the
    // mutex is held, so nothing is appended meanwhile. The reader may take
    // shallow copies but must drop them before it returns (an append to a
    // list still shared would copy all of it), and must not call the recorder.
    void readRecording(
        const std::function<void(const QVector<double>& time, const QVector<QVector<double>>& lists)>& reader) const;

signals:
    void extremumChanged();
    void accumulateChanged();
    void startRecord();
    void stopRecord();
    void addDeviceCurves(int _count);

public slots:
    void addRecordFifo(PC_VOL_PARAM_QUEUE_T _queueParam);
    void addParam(UsbParam* _usbParam);
    void addDeviceCurvesSlot(int _count, QByteArray _buf);
    void clearRecordParam();
    void setSwitch(UsbRecParam::RECORD_TYPE_E type, bool sw);
    void setInterval(int msec);

private:
    friend class tst_Curves;

    int fifoCount() const; // mutex held
    // Appends one sample as the next recorded point; true when an extremum changed. Mutex held.
    bool recordPoint(const RECORD_T& s, const UsbParam& live);
    bool updateExtremum(int channel, double value); // mutex held

    int mCounter = 0; // points recorded so far
    double sampleRate = 0.2; // points per second; the page sets it before the first tick
    int mInterval = 5000; // ms between points
    int startCurrent = 50; // mA
    int stopCurrent = 0; // mA, 0: no stop condition
    int stopTime = 5; // s
    int stopTimed = 0; // ms counted at or below stopCurrent
    bool masterSwitch = false; // the start condition was met (or the page set it)
    QVector<bool> allSwitch; // by RECORD_TYPE_E
    QVector<double> time; // s, one per point
    QVector<QVector<double>> allList; // by RECORD_TYPE_E
    QVector<extremum_data_t> allExtremum; // VBUS, IBUS, DP, DM, PBUS
    double oldVbus = 0.0; // live voltage of the previous energy step
    double oldIbus = 0.0; // current of the previous point
    RECORD_FIFO_T recordFifo {}; // in the object: converting a report allocates nothing
    mutable QMutex mutex; // guards all of the above
};
