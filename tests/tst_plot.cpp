#include "axistag.h"
#include "lmmulticurvesplot.h"
#include "minmaxgraph.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPointer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStringList>
#include <QTranslator>
#include <QtTest>
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

namespace {

const QVector<QColor> kColors = { QColor(255, 255, 0), QColor(0, 255, 0), QColor(0, 170, 255), QColor(255, 85, 255),
    QColor(255, 0, 0), QColor(0, 255, 255), QColor(255, 170, 0) };
const QVector<QString> kNames = { "VBUS", "IBUS", "D+", "D-", "PBUS", "CAP", "NRG" };
const QVector<QString> kAxes = { "VBUS(V)", "IBUS(A)", "D+(V)", "D-(V)", "PBUS(W)", "CAP(Ah)", "NRG(Wh)" };

// A plot set up the way the curves page sets it up, laid out on screen.
std::unique_ptr<LMMultiCurvesPlot> makePlot()
{
    auto plot = std::make_unique<LMMultiCurvesPlot>();
    plot->initCurves(7, kColors, kNames, kAxes);
    plot->resize(1000, 560);
    plot->show();
    plot->replot();
    return plot;
}

QCPAxis* curveAxis(QCustomPlot& plot, int curve)
{
    // The default right axis comes first, then the curve axes in curve order.
    return plot.axisRect()->axes(QCPAxis::atRight).at(curve + 1);
}

AxisTag* tagOf(QCustomPlot& plot, int curve)
{
    return curveAxis(plot, curve)->findChild<AxisTag*>();
}

QCPItemTracer* crosshair(QCustomPlot& plot)
{
    for (int i = 0; i < plot.itemCount(); ++i) {
        auto* tracer = qobject_cast<QCPItemTracer*>(plot.item(i));
        if (tracer && tracer->pen().color() == QColor(214, 207, 154))
            return tracer;
    }
    return nullptr;
}

QCPItemText* timeLabel(QCustomPlot& plot)
{
    for (int i = 0; i < plot.itemCount(); ++i) {
        auto* text = qobject_cast<QCPItemText*>(plot.item(i));
        if (text && !text->position->parentAnchor())
            return text;
    }
    return nullptr;
}

QCPGraph* graphOf(QCustomPlot& plot, int curve)
{
    QCPAxis* axis = curveAxis(plot, curve);
    for (int i = 0; i < plot.graphCount(); ++i) {
        if (plot.graph(i)->valueAxis() == axis)
            return plot.graph(i);
    }
    return nullptr;
}

QVector<double> ramp(int n, double step = 0.01)
{
    QVector<double> v(n);
    for (int i = 0; i < n; ++i)
        v[i] = i * step;
    return v;
}

void sendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent ev(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &ev);
}

void moveTo(QWidget* w, QPoint pos)
{
    sendMouse(w, QEvent::MouseMove, pos, Qt::NoButton, Qt::NoButton);
}

void click(QWidget* w, QPoint pos)
{
    sendMouse(w, QEvent::MouseButtonPress, pos, Qt::LeftButton, Qt::LeftButton);
    sendMouse(w, QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton);
}

// What a real double-click delivers: press, release, double-click, release.
void doubleClick(QWidget* w, QPoint pos, Qt::MouseButton button)
{
    sendMouse(w, QEvent::MouseButtonPress, pos, button, button);
    sendMouse(w, QEvent::MouseButtonRelease, pos, button, Qt::NoButton);
    sendMouse(w, QEvent::MouseButtonDblClick, pos, button, button);
    sendMouse(w, QEvent::MouseButtonRelease, pos, button, Qt::NoButton);
}

void drag(QWidget* w, QPoint from, QPoint to)
{
    sendMouse(w, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    for (int step = 1; step <= 4; ++step)
        sendMouse(w, QEvent::MouseMove, from + (to - from) * step / 4, Qt::NoButton, Qt::LeftButton);
    sendMouse(w, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

void wheel(QWidget* w, QPoint pos, int delta)
{
    QWheelEvent ev(QPointF(pos), QPointF(w->mapToGlobal(pos)), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
        Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &ev);
}

QPoint pixelAtKey(QCustomPlot& plot, double key)
{
    return QPoint(qRound(plot.xAxis->coordToPixel(key)), plot.axisRect()->rect().center().y());
}

// Records the messages of the plotting library, to catch an item removed twice.
QStringList g_messages;
void recordMessage(QtMsgType, const QMessageLogContext&, const QString& msg)
{
    g_messages.append(msg);
}

enum Gesture
{
    RightDoubleClick,
    LeftDoubleClick,
    LeftDrag,
    Wheel
};

// A MinMaxGraph whose line points can be compared with the plain graph's.
class ProbeGraph : public MinMaxGraph
{
public:
    using MinMaxGraph::MinMaxGraph;

    QVector<QCPGraphData> lineData(bool plain) const
    {
        QCPGraphDataContainer::const_iterator begin, end;
        getVisibleDataBounds(begin, end, QCPDataRange(0, dataCount()));
        QVector<QCPGraphData> points;
        if (plain)
            QCPGraph::getOptimizedLineData(&points, begin, end);
        else
            getOptimizedLineData(&points, begin, end);
        return points;
    }

    int visibleCount() const
    {
        QCPGraphDataContainer::const_iterator begin, end;
        getVisibleDataBounds(begin, end, QCPDataRange(0, dataCount()));
        return int(end - begin);
    }
};

// A recording-like series: keys ascending with uneven steps (and, if asked,
// pauses), values a random walk with spikes (and, if asked, NaN holes).
struct Series
{
    QVector<double> keys;
    QVector<double> values;
};

Series makeSeries(int n, quint32 seed, bool pauses = false, bool holes = false, double firstKey = 0)
{
    QRandomGenerator rng(seed);
    Series s;
    s.keys.resize(n);
    s.values.resize(n);
    double key = firstKey;
    double value = 5;
    for (int i = 0; i < n; ++i) {
        key += 0.01 * (0.5 + rng.generateDouble());
        if (pauses && rng.bounded(3000) == 0)
            key += 0.01 * rng.bounded(2000);
        value += rng.generateDouble() - 0.5;
        s.keys[i] = key;
        s.values[i] = rng.bounded(500) == 0 ? value + 40 * (rng.generateDouble() - 0.5) : value;
        if (holes && rng.bounded(300) == 0)
            s.values[i] = std::numeric_limits<double>::quiet_NaN();
    }
    return s;
}

// Changes a graph's samples the way its owner must: a MinMaxGraph is told.
void setSamples(QCPGraph* graph, const QVector<double>& keys, const QVector<double>& values)
{
    if (auto* fast = qobject_cast<MinMaxGraph*>(graph))
        fast->replaceData(keys, values);
    else
        graph->setData(keys, values, true);
}

void addSamples(QCPGraph* graph, const QVector<double>& keys, const QVector<double>& values)
{
    if (auto* fast = qobject_cast<MinMaxGraph*>(graph))
        fast->appendData(keys, values);
    else
        graph->addData(keys, values, true);
}

bool sameNumber(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

// Empty when both lines have the same points, else where they part.
QString lineDifference(const QVector<QCPGraphData>& mine, const QVector<QCPGraphData>& plain)
{
    for (int i = 0; i < qMin(mine.size(), plain.size()); ++i) {
        if (!sameNumber(mine[i].key, plain[i].key) || !sameNumber(mine[i].value, plain[i].value))
            return QString("point %1: (%2, %3) instead of (%4, %5)")
                .arg(i)
                .arg(mine[i].key, 0, 'g', 17)
                .arg(mine[i].value, 0, 'g', 17)
                .arg(plain[i].key, 0, 'g', 17)
                .arg(plain[i].value, 0, 'g', 17);
    }
    if (mine.size() != plain.size())
        return QString("%1 points instead of %2").arg(mine.size()).arg(plain.size());
    return QString();
}

// The largest difference in any colour channel between two pictures.
int largestDifference(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return 256;
    const QImage x = a.convertToFormat(QImage::Format_ARGB32);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32);
    int worst = 0;
    for (int row = 0; row < x.height(); ++row) {
        const QRgb* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const QRgb* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            worst = qMax(worst, qAbs(qRed(p[col]) - qRed(q[col])));
            worst = qMax(worst, qAbs(qGreen(p[col]) - qGreen(q[col])));
            worst = qMax(worst, qAbs(qBlue(p[col]) - qBlue(q[col])));
            worst = qMax(worst, qAbs(qAlpha(p[col]) - qAlpha(q[col])));
        }
    }
    return worst;
}

// How far a kept picture's colours may stray from the plain graph's (of 255).
constexpr int kKeptPictureRounding = 8;

QImage drawn(QCustomPlot& plot)
{
    plot.replot(QCustomPlot::rpImmediateRefresh);
    return plot.grab().toImage();
}

// Answers only the plot's ticker format, in the plot's own context.
class TickerTranslator : public QTranslator
{
public:
    QString translate(
        const char* context, const char* sourceText, const char* disambiguation = nullptr, int n = -1) const override
    {
        Q_UNUSED(disambiguation)
        Q_UNUSED(n)
        if (qstrcmp(context, "LMMultiCurvesPlot") == 0 && qstrcmp(sourceText, "%h:%m:%s.%z\n%dDays") == 0)
            return QStringLiteral("%h:%m:%s.%z\n%dTage");
        return QString();
    }
    bool isEmpty() const override { return false; }
};

QString tickerFormat(QCustomPlot& plot)
{
    const auto ticker = qSharedPointerDynamicCast<QCPAxisTickerTime>(plot.xAxis->ticker());
    return ticker ? ticker->timeFormat() : QString();
}

} // namespace

Q_DECLARE_METATYPE(Gesture)

class TstPlot : public QObject
{
    Q_OBJECT
private slots:
    void liveWindow_data();
    void liveWindow();
    void feedWithoutNewSamples();
    void rounding_data();
    void rounding();
    void zoomFreely();
    void mouseLock_data();
    void mouseLock();
    void lockedCursorStillMoves();
    void cursorValuesAtEnds();
    void timeLabelWrapsAfterADay();
    void legendClickChoosesCurve();
    void removingFollowedCurve();
    void showCurvesSkipsUnknownIndex();
    void showCurvesWithoutClearing();
    void curveColours();
    void tickerFormatTranslated();
    void outOfRangeIndexIgnored();
    void fitAll();
    void fitAllWithoutSamples();
    void selectionCoupling_data();
    void selectionCoupling();
    void timerRedrawsOnlyWhileLive();
    void tagItemsRemovedOnce_data();
    void tagItemsRemovedOnce();
    void tagFollowsAxisOffset();
    void screenshot();

    // Dense views of many samples: same line points and picture as the plain graph.
    void denseLineData_data();
    void denseLineData();
    void denseLineDataFollowsChanges();
    void densePicture_data();
    void densePicture();
    void denseChangeDrawnAfresh_data();
    void denseChangeDrawnAfresh();
    void curvesDrawnLikePlainGraphs();
};

void TstPlot::liveWindow_data()
{
    QTest::addColumn<double>("oldest");
    QTest::addColumn<double>("lowerAt100");
    QTest::addColumn<double>("upperAt100");
    QTest::newRow("oldest is the minimum") << 1.0 << 1.0 << 3.1;
    QTest::newRow("oldest is the maximum") << 9.0 << 3.0 << 9.1;
}

void TstPlot::liveWindow()
{
    QFETCH(double, oldest);
    QFETCH(double, lowerAt100);
    QFETCH(double, upperAt100);

    auto plot = makePlot();
    plot->clearCurvesData();
    plot->showCurves({ 0 });
    QCPAxis* axis = curveAxis(*plot, 0);

    QVector<double> keys = ramp(151);
    QVector<double> values(151, 3.0);
    values[0] = oldest;
    values[150] = 3.25;

    plot->addCurvesData(0, keys.mid(0, 100), values.mid(0, 100));
    QCOMPARE(graphOf(*plot, 0)->dataCount(), 100);
    QCOMPARE(axis->range().lower, lowerAt100);
    QCOMPARE(axis->range().upper, upperAt100);
    QCOMPARE(tagOf(*plot, 0)->text(), QString("3.000"));
    // The left axis (and the grid) follows curve 0's scale.
    QCOMPARE(plot->yAxis->range().lower, lowerAt100);
    QCOMPARE(plot->yAxis->range().upper, upperAt100);

    // 150 samples: the oldest still counts.
    plot->addCurvesData(0, keys.mid(0, 150), values.mid(0, 150));
    QCOMPARE(graphOf(*plot, 0)->dataCount(), 150);
    QCOMPARE(axis->range().lower, lowerAt100);
    QCOMPARE(axis->range().upper, upperAt100);

    // 151 samples: the oldest drops out of the window; only the tail is appended.
    plot->addCurvesData(0, keys, values);
    QCPGraph* graph = graphOf(*plot, 0);
    QCOMPARE(graph->dataCount(), 151);
    QCOMPARE(graph->data()->at(0)->value, oldest);
    QCOMPARE(graph->data()->at(150)->key, 1.5);
    QCOMPARE(axis->range().lower, 3.0);
    QCOMPARE(axis->range().upper, 3.3);
    QCOMPARE(tagOf(*plot, 0)->text(), QString("3.250"));
}

void TstPlot::feedWithoutNewSamples()
{
    auto plot = makePlot();
    plot->clearCurvesData();
    plot->showCurves({ 0 });
    QCPAxis* axis = curveAxis(*plot, 0);
    const QVector<double> keys = ramp(10, 1.0);
    QVector<double> values(10, 2.0);
    values[9] = 2.5;
    plot->addCurvesData(0, keys, values);
    plot->xAxis->setRange(0, 9);
    plot->replot();

    // Give the axis and the tag states a feed would overwrite.
    axis->setRange(10, 20);
    plot->setTracer(true);
    moveTo(plot.get(), pixelAtKey(*plot, 4.0));
    QCOMPARE(tagOf(*plot, 0)->text(), QString("2.0000"));

    plot->addCurvesData(0, keys, values);
    QCOMPARE(axis->range(), QCPRange(10, 20));
    QCOMPARE(tagOf(*plot, 0)->text(), QString("2.0000"));
    QCOMPARE(graphOf(*plot, 0)->dataCount(), 10);

    // Shorter than the store: nothing is appended, but the curve re-ranges.
    plot->addCurvesData(0, keys.mid(0, 5), values.mid(0, 5));
    QCOMPARE(graphOf(*plot, 0)->dataCount(), 10);
    QCOMPARE(axis->range().lower, 2.0);
    QCOMPARE(axis->range().upper, 2.6);
    QCOMPARE(tagOf(*plot, 0)->text(), QString("2.500"));
}

void TstPlot::rounding_data()
{
    QTest::addColumn<QVector<double>>("values");
    QTest::addColumn<double>("lower");
    QTest::addColumn<double>("upper");
    QTest::newRow("4.9876 to 5.0123") << QVector<double> { 5.0, 4.9876, 5.0123, 5.0 } << 4.9 << 5.1;
    QTest::newRow("constant 5.0") << QVector<double>(20, 5.0) << 5.0 << 5.1;
    QTest::newRow("constant 2.0") << QVector<double>(20, 2.0) << 2.0 << 2.1;
    QTest::newRow("all zero") << QVector<double>(20, 0.0) << 0.0 << 0.1;
    QTest::newRow("0.05 to 0.1") << QVector<double> { 0.05, 0.1 } << 0.0 << 0.2;
    QTest::newRow("single sample") << QVector<double> { 12.3456 } << 12.3 << 12.4;
    QTest::newRow("negative") << QVector<double> { -0.25, -0.05 } << -0.3 << 0.0;
    QTest::newRow("negative constant") << QVector<double> { -1.0, -1.0 } << -1.0 << -0.9;
    QTest::newRow("across zero") << QVector<double> { -0.01, 0.01 } << -0.1 << 0.1;
}

void TstPlot::rounding()
{
    QFETCH(QVector<double>, values);
    QFETCH(double, lower);
    QFETCH(double, upper);

    auto plot = makePlot();
    plot->clearCurvesData();
    plot->showCurves({ 1 });
    QCPAxis* axis = curveAxis(*plot, 1);
    const QVector<double> keys = ramp(values.size(), 0.5);

    plot->addCurvesData(1, keys, values);
    QCOMPARE(axis->range().lower, lower);
    QCOMPARE(axis->range().upper, upper);
    const double minValue = *std::min_element(values.cbegin(), values.cend());
    const double maxValue = *std::max_element(values.cbegin(), values.cend());
    QVERIFY(axis->range().lower <= minValue && axis->range().upper >= maxValue);

    // Fit all rounds the same way.
    axis->setRange(100, 200);
    plot->scaledAllCurves();
    QCOMPARE(axis->range().lower, lower);
    QCOMPARE(axis->range().upper, upper);
}

void TstPlot::zoomFreely()
{
    auto plot = makePlot();
    plot->clearCurvesData();
    plot->showCurves({ 0 });
    QCPAxis* axis = curveAxis(*plot, 0);
    const QVector<double> keys = ramp(21);
    QVector<double> values(21, 2.0);
    for (int i = 0; i < 10; ++i)
        values[i] = 1.0;

    plot->addCurvesData(0, keys.mid(0, 10), values.mid(0, 10));
    QCOMPARE(axis->range(), QCPRange(1.0, 1.1));

    plot->setZoom(Qt::Checked);
    QVERIFY(plot->getZoom());
    axis->setRange(0, 50); // the user's zoom
    plot->addCurvesData(0, keys.mid(0, 20), values.mid(0, 20));
    QCOMPARE(axis->range(), QCPRange(0, 50));
    QCOMPARE(tagOf(*plot, 0)->text(), QString("2.000"));

    plot->setZoom(Qt::PartiallyChecked);
    QVERIFY(plot->getZoom());
    plot->setZoom(Qt::Unchecked);
    QVERIFY(!plot->getZoom());

    // Switched off: no re-range until a feed brings new samples.
    plot->addCurvesData(0, keys.mid(0, 20), values.mid(0, 20));
    QCOMPARE(axis->range(), QCPRange(0, 50));
    plot->addCurvesData(0, keys, values);
    QCOMPARE(axis->range().lower, 1.0);
    QCOMPARE(axis->range().upper, 2.1);
}

void TstPlot::mouseLock_data()
{
    QTest::addColumn<bool>("live");
    QTest::addColumn<int>("zoomState");
    QTest::addColumn<Gesture>("gesture");
    QTest::addColumn<bool>("locked");

    const QList<QPair<const char*, Gesture>> gestures = { { "right double-click", RightDoubleClick },
        { "left double-click", LeftDoubleClick }, { "drag", LeftDrag }, { "wheel", Wheel } };
    for (const auto& g : gestures) {
        QTest::addRow("live, %s", g.first) << true << int(Qt::Unchecked) << g.second << true;
        QTest::addRow("live, zoom freely, %s", g.first) << true << int(Qt::Checked) << g.second << false;
        QTest::addRow("not live, %s", g.first) << false << int(Qt::Unchecked) << g.second << false;
    }
}

void TstPlot::mouseLock()
{
    QFETCH(bool, live);
    QFETCH(int, zoomState);
    QFETCH(Gesture, gesture);
    QFETCH(bool, locked);

    auto plot = makePlot();
    plot->clearCurvesData();
    plot->showCurves({ 0, 1 });
    plot->addCurvesData(0, ramp(50, 0.2), QVector<double>(50, 5.0));
    plot->addCurvesData(1, ramp(50, 0.2), QVector<double>(50, 1.0));
    // Ranges that neither fit all nor leave a gesture without effect.
    plot->xAxis->setRange(2, 6);
    curveAxis(*plot, 0)->setRange(0, 20);
    curveAxis(*plot, 1)->setRange(-3, 3);
    plot->replot();
    plot->setRefresh(live);
    plot->setZoom(zoomState);

    const QCPRange x = plot->xAxis->range();
    const QCPRange y0 = curveAxis(*plot, 0)->range();
    const QCPRange y1 = curveAxis(*plot, 1)->range();
    const QPoint centre = plot->axisRect()->rect().center();

    switch (gesture) {
    case RightDoubleClick:
        doubleClick(plot.get(), centre, Qt::RightButton);
        break;
    case LeftDoubleClick:
        doubleClick(plot.get(), centre, Qt::LeftButton);
        break;
    case LeftDrag:
        drag(plot.get(), centre - QPoint(120, 60), centre + QPoint(80, 40));
        break;
    case Wheel:
        wheel(plot.get(), centre, 120);
        break;
    }

    const bool rangesKept
        = plot->xAxis->range() == x && curveAxis(*plot, 0)->range() == y0 && curveAxis(*plot, 1)->range() == y1;
    if (gesture == LeftDoubleClick) {
        QVERIFY(rangesKept);
        QCOMPARE(crosshair(*plot)->visible(), !locked);
        QCOMPARE(timeLabel(*plot)->visible(), !locked);
    } else {
        QCOMPARE(rangesKept, locked);
    }
    if (gesture == RightDoubleClick && !locked) {
        QCOMPARE(plot->xAxis->range(), QCPRange(0, 9.8));
        QCOMPARE(curveAxis(*plot, 0)->range(), QCPRange(5.0, 5.1));
        QCOMPARE(curveAxis(*plot, 1)->range(), QCPRange(1.0, 1.1));
    }
}

void TstPlot::lockedCursorStillMoves()
{
    auto plot = makePlot();
    plot->clearCurvesData();
    plot->showCurves({ 0 });
    QVector<double> values(50, 5.0);
    values[10] = 4.0;
    plot->addCurvesData(0, ramp(50, 1.0), values);
    plot->xAxis->setRange(0, 49);
    plot->replot();
    plot->setRefresh(true);
    plot->setTracer(true);

    moveTo(plot.get(), pixelAtKey(*plot, 9.7)); // the tag reads the sample at key 10
    QCOMPARE(tagOf(*plot, 0)->text(), QString("4.0000"));
    QVERIFY(crosshair(*plot)->visible());

    values.append(6.0);
    plot->addCurvesData(0, ramp(51, 1.0), values);
    QCOMPARE(tagOf(*plot, 0)->text(), QString("6.000"));
}

void TstPlot::cursorValuesAtEnds()
{
    auto plot = makePlot();
    plot->clearCurvesData();
    plot->showCurves({ 0, 6 }); // the first and the last curve
    const QVector<double> keys = { 50, 60, 70 };
    plot->addCurvesData(0, keys, { 1.5, 2.5, 3.5 });
    plot->addCurvesData(6, keys, { 10, 20, 30 });
    plot->xAxis->setRange(0, 200);
    plot->replot();
    plot->setTracer(true);

    struct Case
    {
        double mouseKey;
        const char* value0;
        const char* value6;
        double crosshairKey;
        const char* time;
    };
    // The tags read the first sample at or after the mouse; the crosshair and
    // its time label stand on the nearest sample.
    const Case cases[] = {
        { 20, "1.5000", "10.0000", 50, "00:00:50.000" }, // left of the first sample
        { 52, "2.5000", "20.0000", 50, "00:00:50.000" }, // between: next sample's value
        { 66, "3.5000", "30.0000", 70, "00:01:10.000" }, // nearest is the last one
        { 180, "3.5000", "30.0000", 70, "00:01:10.000" }, // beyond the last sample
    };
    for (const Case& c : cases) {
        const QPoint pos = pixelAtKey(*plot, c.mouseKey);
        moveTo(plot.get(), pos);
        QCOMPARE(tagOf(*plot, 0)->text(), QString(c.value0));
        QCOMPARE(tagOf(*plot, 6)->text(), QString(c.value6));
        QCOMPARE(crosshair(*plot)->position->key(), c.crosshairKey);
        QCOMPARE(timeLabel(*plot)->text(), QString(c.time));
        QCOMPARE(timeLabel(*plot)->position->pixelPosition(), QPointF(pos.x(), plot->viewport().height() - 55));
    }
    QCOMPARE(crosshair(*plot)->graph(), graphOf(*plot, 0));

    // Back to the newest values, on every shown curve.
    plot->refreshAllTag();
    QCOMPARE(tagOf(*plot, 0)->text(), QString("3.500"));
    QCOMPARE(tagOf(*plot, 6)->text(), QString("30.000"));
}

void TstPlot::timeLabelWrapsAfterADay()
{
    auto plot = makePlot();
    plot->clearCurvesData();
    plot->showCurves({ 4 });
    plot->addCurvesData(4, { 90000.0, 90000.5, 90001.0 }, { 1, 2, 3 });
    plot->xAxis->setRange(89999, 90002);
    plot->replot();
    plot->setTracer(true);
    QCOMPARE(timeLabel(*plot)->text(), QString("00:00:00.000"));

    // Coming from another sample, the label reads where the crosshair now stands.
    moveTo(plot.get(), pixelAtKey(*plot, 90001.0));
    QCOMPARE(timeLabel(*plot)->text(), QString("01:00:01.000"));
    moveTo(plot.get(), pixelAtKey(*plot, 90000.5));
    QCOMPARE(crosshair(*plot)->position->key(), 90000.5);
    QCOMPARE(timeLabel(*plot)->text(), QString("01:00:00.500"));
}

void TstPlot::legendClickChoosesCurve()
{
    auto plot = makePlot();
    plot->clearCurvesData();
    plot->showCurves({ 0, 1, 4 });
    for (const int curve : { 0, 1, 4 })
        plot->addCurvesData(curve, ramp(20, 1.0), QVector<double>(20, 1.0 + curve));
    plot->xAxis->setRange(0, 19);
    plot->replot();
    plot->setTracer(true);
    moveTo(plot.get(), pixelAtKey(*plot, 5));
    QCOMPARE(crosshair(*plot)->graph(), graphOf(*plot, 0));

    click(plot.get(), plot->legend->itemWithPlottable(graphOf(*plot, 4))->rect().center());
    QCOMPARE(crosshair(*plot)->graph(), graphOf(*plot, 4));
    moveTo(plot.get(), pixelAtKey(*plot, 6));
    QCOMPARE(crosshair(*plot)->position->value(), 5.0);

    // Even with the cursor off, a legend click chooses the curve to follow.
    plot->setTracer(false);
    QCOMPARE(crosshair(*plot)->graph(), static_cast<QCPGraph*>(nullptr));
    click(plot.get(), plot->legend->itemWithPlottable(graphOf(*plot, 1))->rect().center());
    QCOMPARE(crosshair(*plot)->graph(), graphOf(*plot, 1));
    QVERIFY(!crosshair(*plot)->visible());
}

void TstPlot::removingFollowedCurve()
{
    auto plot = makePlot();
    plot->clearCurvesData();
    plot->showCurves({ 0, 1, 2 }); // curve 0 has no samples
    plot->addCurvesData(1, ramp(20, 1.0), QVector<double>(20, 1.0));
    plot->addCurvesData(2, ramp(20, 1.0), QVector<double>(20, 2.0));
    plot->xAxis->setRange(0, 19);
    plot->replot();
    plot->setTracer(true);

    moveTo(plot.get(), pixelAtKey(*plot, 5));
    QCOMPARE(crosshair(*plot)->graph(), graphOf(*plot, 1));

    plot->removeOneCurve(1);
    QVERIFY(!crosshair(*plot)->visible());
    QVERIFY(!timeLabel(*plot)->visible());
    QCOMPARE(plot->getIndexList(), QList<quint16>({ 0, 2 }));
    QVERIFY(!plot->isHaveCurve(1));
    QCOMPARE(tagOf(*plot, 1)->text(), QString("    "));

    moveTo(plot.get(), pixelAtKey(*plot, 7));
    QCOMPARE(crosshair(*plot)->graph(), graphOf(*plot, 2));
    QVERIFY(crosshair(*plot)->visible());
    QVERIFY(timeLabel(*plot)->visible());

    // The stored samples stay: showing the curve again brings them back.
    plot->showOneCurve(1);
    QCOMPARE(graphOf(*plot, 1)->dataCount(), 20);
    QCOMPARE(plot->getIndexList(), QList<quint16>({ 0, 2, 1 }));

    // A legend click chooses the next curve while the crosshair is hidden:
    // the next move shows the crosshair with its label again.
    plot->removeOneCurve(2);
    QVERIFY(!crosshair(*plot)->visible());
    plot->replot();
    click(plot.get(), plot->legend->itemWithPlottable(graphOf(*plot, 1))->rect().center());
    QCOMPARE(crosshair(*plot)->graph(), graphOf(*plot, 1));
    moveTo(plot.get(), pixelAtKey(*plot, 8));
    QVERIFY(crosshair(*plot)->visible());
    QVERIFY(timeLabel(*plot)->visible());
}

void TstPlot::showCurvesSkipsUnknownIndex()
{
    auto plot = makePlot();
    plot->clearCurvesData();
    QSignalSpy replots(plot.get(), &QCustomPlot::afterReplot);
    QTest::ignoreMessage(QtDebugMsg, "showCurves warning: Beyond max index 9");
    plot->showCurves({ 0, 9 });
    QCOMPARE(plot->getIndexList(), QList<quint16>({ 0 }));
    QCOMPARE(plot->graphCount(), 1);
    QVERIFY(plot->isHaveCurve(0));
    QVERIFY(curveAxis(*plot, 0)->visible());
    QVERIFY(replots.count() >= 1);
}

void TstPlot::showCurvesWithoutClearing()
{
    auto plot = makePlot();
    plot->clearCurvesData();
    plot->showCurves({ 0, 1 });
    plot->addCurvesData(0, ramp(5), QVector<double>(5, 1.5));
    plot->addCurvesData(1, ramp(5), QVector<double>(5, 2.5));

    // Curve 0 loses its graph, but its axis and tag are left as they were.
    plot->showCurves({ 1 });
    QVERIFY(!plot->isHaveCurve(0));
    QCOMPARE(graphOf(*plot, 0), static_cast<QCPGraph*>(nullptr));
    QVERIFY(curveAxis(*plot, 0)->visible());
    QVERIFY(curveAxis(*plot, 0)->tickLabels());
    QCOMPARE(tagOf(*plot, 0)->text(), QString("1.500"));
    QCOMPARE(tagOf(*plot, 1)->text(), QString("2.500"));

    // With the stores cleared first, the curves not listed are hidden.
    plot->clearCurvesData();
    plot->showCurves({ 1 });
    QVERIFY(!curveAxis(*plot, 0)->visible());
    QCOMPARE(tagOf(*plot, 0)->text(), QString("    "));
}

void TstPlot::curveColours()
{
    auto plot = makePlot();
    plot->clearCurvesData();
    plot->showCurves({ 1 });
    const QColor shown(10, 20, 30);
    const QColor hidden(200, 100, 50);
    plot->setCurvesColor(1, shown);
    plot->setCurvesColor(2, hidden);

    QCOMPARE(plot->getCurvesColor(1), shown);
    QCOMPARE(graphOf(*plot, 1)->pen().color(), shown);
    QCOMPARE(tagOf(*plot, 1)->pen().color(), shown);
    QCOMPARE(plot->getCurvesColor(2), hidden);
    QCOMPARE(tagOf(*plot, 2)->pen().color(), hidden);
    QCOMPARE(plot->getCurvesColor(0), kColors[0]);

    // A curve shown later is drawn in its stored colour.
    plot->showOneCurve(2);
    QCOMPARE(graphOf(*plot, 2)->pen().color(), hidden);
}

void TstPlot::tickerFormatTranslated()
{
    {
        LMMultiCurvesPlot plot;
        QCOMPARE(tickerFormat(plot), QString("%h:%m:%s.%z\n%dDays"));
    }
    TickerTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    LMMultiCurvesPlot plot;
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(tickerFormat(plot), QString("%h:%m:%s.%z\n%dTage"));

    plot.setXAxisTickerFormat("%h:%m:%s.%z\n%dDay");
    QCOMPARE(tickerFormat(plot), QString("%h:%m:%s.%z\n%dDay"));
}

void TstPlot::outOfRangeIndexIgnored()
{
    auto plot = makePlot();
    plot->clearCurvesData();
    plot->showCurves({ 0 });
    plot->addCurvesData(0, ramp(5), QVector<double>(5, 1.0));
    const QCPRange before = curveAxis(*plot, 0)->range();

    plot->showOneCurve(7);
    plot->removeOneCurve(9);
    plot->setCurvesData(7, ramp(5), QVector<double>(5, 3.0));
    plot->addCurvesData(7, ramp(5), QVector<double>(5, 3.0));
    plot->setCurvesColor(7, Qt::red);
    plot->showOneCurve(0); // already shown
    plot->removeOneCurve(3); // not shown

    QCOMPARE(plot->graphCount(), 1);
    QCOMPARE(plot->getIndexList(), QList<quint16>({ 0 }));
    QCOMPARE(curveAxis(*plot, 0)->range(), before);
    QCOMPARE(plot->getCurveCount(), quint16(7));
    QCOMPARE(plot->axisRect()->axes(QCPAxis::atRight).size(), 8);
}

void TstPlot::fitAll()
{
    auto plot = makePlot();
    plot->clearCurvesData();
    // Keys from 2 s: the time range still starts at 0.
    const auto keysFrom2 = [](int n) {
        QVector<double> keys = ramp(n, 1.0);
        for (double& k : keys)
            k += 2;
        return keys;
    };
    plot->setCurvesData(0, keysFrom2(11), QVector<double> { 5.0, 5.2, 4.95, 5.0, 5.0, 5.0, 5.0, 5.0, 5.0, 5.0, 5.0 });
    plot->setCurvesData(1, keysFrom2(21), QVector<double>(21, 0.5));
    plot->setCurvesData(2, keysFrom2(31), QVector<double>(31, 0.5)); // stored but not shown
    plot->showCurves({ 1, 0, 3 }); // curve 3 has no samples
    QCOMPARE(graphOf(*plot, 0)->dataCount(), 11);
    QCOMPARE(tagOf(*plot, 0)->text(), QString("5.000"));

    plot->setZoom(Qt::Checked); // fit all ranges anyway
    plot->scaledAllCurves();
    QCOMPARE(curveAxis(*plot, 0)->range(), QCPRange(4.9, 5.3));
    QCOMPARE(curveAxis(*plot, 1)->range(), QCPRange(0.5, 0.6));
    // The highest-numbered shown curve with samples sets the time range.
    QCOMPARE(plot->xAxis->range(), QCPRange(0, 22));
    QCOMPARE(plot->xAxis2->range(), QCPRange(0, 22));

    // Keys and values that differ in length are kept pairwise.
    plot->clearCurvesData();
    plot->setCurvesData(0, ramp(8, 1.0), QVector<double>(5, 1.0));
    plot->showCurves({ 0 });
    QCOMPARE(graphOf(*plot, 0)->dataCount(), 5);
    plot->addCurvesData(0, ramp(9, 1.0), QVector<double>(7, 1.0));
    QCOMPARE(graphOf(*plot, 0)->dataCount(), 7);
    plot->addCurvesData(0, ramp(9, 1.0), QVector<double>(9, 1.0));
    QCOMPARE(graphOf(*plot, 0)->dataCount(), 9);
    QCOMPARE(graphOf(*plot, 0)->data()->at(8)->key, 8.0);
}

void TstPlot::fitAllWithoutSamples()
{
    auto plot = makePlot();
    plot->clearCurvesData();
    plot->showCurves({ 0, 1 });
    plot->xAxis->setRange(3, 7);
    curveAxis(*plot, 0)->setRange(1, 2);
    curveAxis(*plot, 1)->setRange(-1, 4);
    plot->replot();

    doubleClick(plot.get(), plot->axisRect()->rect().center(), Qt::RightButton);
    QCOMPARE(plot->xAxis->range(), QCPRange(3, 7));
    QCOMPARE(curveAxis(*plot, 0)->range(), QCPRange(1, 2));
    QCOMPARE(curveAxis(*plot, 1)->range(), QCPRange(-1, 4));
}

void TstPlot::selectionCoupling_data()
{
    QTest::addColumn<QString>("selected");
    QTest::addColumn<bool>("timeAxes");
    QTest::addColumn<bool>("valueAxes");
    QTest::newRow("bottom") << "bottom" << true << false;
    QTest::newRow("top") << "top" << true << false;
    QTest::newRow("left") << "left" << false << true;
    QTest::newRow("curve 3 axis") << "curve3" << false << true;
}

void TstPlot::selectionCoupling()
{
    QFETCH(QString, selected);
    QFETCH(bool, timeAxes);
    QFETCH(bool, valueAxes);

    auto plot = makePlot();
    plot->clearCurvesData();
    plot->showCurves({ 0, 3 });
    QCPAxis* axis = selected == "bottom" ? plot->xAxis
        : selected == "top"              ? plot->xAxis2
        : selected == "left"             ? plot->yAxis
                                         : curveAxis(*plot, 3);
    axis->setSelectedParts(QCPAxis::spAxis);
    plot->selectionChanged();

    const QCPAxis::SelectableParts both = QCPAxis::spAxis | QCPAxis::spTickLabels;
    QCOMPARE(plot->xAxis->selectedParts() == both, timeAxes);
    QCOMPARE(plot->xAxis2->selectedParts() == both, timeAxes);
    // A selected left axis keeps its own selection; it couples the right side.
    if (selected == "left")
        QVERIFY(plot->yAxis->selectedParts().testFlag(QCPAxis::spAxis));
    else
        QCOMPARE(plot->yAxis->selectedParts() == both, valueAxes);
    for (QCPAxis* right : plot->axisRect()->axes(QCPAxis::atRight))
        QCOMPARE(right->selectedParts() == both, valueAxes);
}

void TstPlot::timerRedrawsOnlyWhileLive()
{
    auto plot = makePlot();
    QSignalSpy replots(plot.get(), &QCustomPlot::afterReplot);
    QTimerEvent tick(1);
    QApplication::sendEvent(plot.get(), &tick);
    QCOMPARE(replots.count(), 0);

    plot->setRefresh(true);
    QApplication::sendEvent(plot.get(), &tick);
    QCOMPARE(replots.count(), 1);

    // The widget's own timer keeps redrawing while live.
    QTRY_VERIFY_WITH_TIMEOUT(replots.count() >= 3, 5000);
}

void TstPlot::tagItemsRemovedOnce_data()
{
    QTest::addColumn<QString>("order");
    QTest::newRow("tag first") << "tag";
    QTest::newRow("plot first") << "plot";
    QTest::newRow("axis removed") << "axis";
    QTest::newRow("items cleared, then tag") << "items";
    QTest::newRow("multi-curve plot") << "lmplot";
}

void TstPlot::tagItemsRemovedOnce()
{
    QFETCH(QString, order);

    g_messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordMessage);

    if (order == "lmplot") {
        auto plot = makePlot();
        plot->clearCurvesData();
        plot->showCurves({ 0, 1, 2 });
        QPointer<AxisTag> tag = tagOf(*plot, 2);
        plot.reset();
        QVERIFY(tag.isNull());
    } else {
        auto* plot = new QCustomPlot;
        QCPAxis* axis = plot->axisRect()->addAxis(QCPAxis::atRight);
        const int itemsBefore = plot->itemCount();
        QPointer<AxisTag> tag = new AxisTag(axis);
        QCOMPARE(plot->itemCount(), itemsBefore + 3);

        if (order == "tag") {
            delete tag;
            QCOMPARE(plot->itemCount(), itemsBefore);
            delete plot;
        } else if (order == "plot") {
            delete plot;
            QVERIFY(tag.isNull());
        } else if (order == "axis") {
            QVERIFY(plot->axisRect()->removeAxis(axis));
            QVERIFY(tag.isNull());
            QCOMPARE(plot->itemCount(), itemsBefore);
            delete plot;
        } else {
            plot->clearItems();
            delete tag;
            QCOMPARE(plot->itemCount(), 0);
            delete plot;
        }
    }

    qInstallMessageHandler(previous);
    QVERIFY2(g_messages.isEmpty(), qPrintable(g_messages.join('\n')));
}

void TstPlot::tagFollowsAxisOffset()
{
    QCustomPlot plot;
    plot.resize(800, 500);
    QCPAxis* nearer = plot.axisRect()->addAxis(QCPAxis::atRight);
    QCPAxis* outer = plot.axisRect()->addAxis(QCPAxis::atRight);
    nearer->setRange(0, 10);
    outer->setRange(0, 100);
    AxisTag tag(outer);
    tag.setText("42.000");
    plot.replot();

    QCPItemLine* arrow = nullptr;
    QCPItemText* label = nullptr;
    for (int i = 0; i < plot.itemCount(); ++i) {
        if (auto* line = qobject_cast<QCPItemLine*>(plot.item(i)))
            arrow = line;
        if (auto* text = qobject_cast<QCPItemText*>(plot.item(i)))
            label = text;
    }
    QVERIFY(arrow && label);

    const auto expectHeadOnAxis = [&](double value) {
        const QPointF head = arrow->end->pixelPosition();
        const double axisLine = plot.axisRect()->left() + plot.axisRect()->width() + outer->offset();
        return qAbs(head.x() - axisLine) < 0.5 && qAbs(head.y() - outer->coordToPixel(value)) < 0.5
            && qAbs(arrow->start->pixelPosition().x() - (head.x() + 14)) < 0.5;
    };

    tag.updatePosition(42);
    QVERIFY(outer->offset() > 0);
    QVERIFY(expectHeadOnAxis(42));

    // The head follows its axis at the next layout, and at the next updatePosition.
    nearer->setVisible(false);
    plot.replot();
    QVERIFY(expectHeadOnAxis(42));
    tag.updatePosition(42);
    QCOMPARE(outer->offset(), 0);
    QVERIFY(expectHeadOnAxis(42));

    nearer->setVisible(true);
    plot.replot();
    QVERIFY(outer->offset() > 0);
    QVERIFY(expectHeadOnAxis(42));
    tag.updatePosition(42);
    QVERIFY(outer->offset() > 0);
    QVERIFY(expectHeadOnAxis(42));

    // A parked tag lies outside the widget.
    tag.updatePosition(4294967295.0);
    QVERIFY(!QRectF(plot.rect()).contains(label->position->pixelPosition()));
}

void TstPlot::screenshot()
{
    auto plot = makePlot();
    QVERIFY(QTest::qWaitForWindowExposed(plot.get()));

    // Ten minutes of a fast-charge session at 1 point per second.
    const int n = 600;
    QVector<double> t(n), vbus(n), ibus(n), pbus(n);
    for (int i = 0; i < n; ++i) {
        t[i] = i;
        vbus[i] = i < 200 ? 5.05 : (i < 400 ? 9.02 : 12.01) + 0.02 * std::sin(i * 0.3);
        ibus[i] = (i < 200 ? 1.0 : 1.8) + 0.15 * std::sin(i * 0.05);
        pbus[i] = vbus[i] * ibus[i];
    }
    plot->clearCurvesData();
    plot->setCurvesData(0, t, vbus);
    plot->setCurvesData(1, t, ibus);
    plot->setCurvesData(4, t, pbus);
    plot->showCurves({ 0, 1, 4 });
    plot->scaledAllCurves();
    plot->replot();
    plot->refreshAllTag();
    plot->replot();

    plot->setTracer(true);
    const QPoint pos = pixelAtKey(*plot, 300);
    moveTo(plot.get(), pos);
    QCOMPARE(tagOf(*plot, 0)->text(), QString::number(vbus[300], 'f', 4));
    QCOMPARE(timeLabel(*plot)->text(), QString("00:05:00.000"));

    const QImage image = plot->grab().toImage();
    const QString dir = qEnvironmentVariable("KD_TEST_OUTPUT");
    if (!dir.isEmpty())
        QVERIFY(image.save(QDir(dir).filePath("plot.png")));

    // The crosshair is drawn: its colour shows in its column inside the axis rect.
    const QRect rect = plot->axisRect()->rect();
    int crosshairPixels = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        const QColor c = image.pixelColor(pos.x(), y);
        if (qAbs(c.red() - 214) < 30 && qAbs(c.green() - 207) < 30 && qAbs(c.blue() - 154) < 30)
            ++crosshairPixels;
    }
    QVERIFY2(crosshairPixels > rect.height() / 4, qPrintable(QString::number(crosshairPixels)));
}

void TstPlot::denseLineData_data()
{
    QTest::addColumn<double>("from"); // the visible key range, as parts of the series' span
    QTest::addColumn<double>("to");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("reversed");
    QTest::addColumn<bool>("logarithmic");
    QTest::addColumn<bool>("pauses");
    QTest::addColumn<bool>("holes");
    QTest::newRow("fit all") << -0.01 << 1.01 << 900 << false << false << false << false;
    QTest::newRow("zoomed in, ends inside blocks") << 0.3137 << 0.4411 << 900 << false << false << false << false;
    QTest::newRow("a few samples per column") << 0.52 << 0.55 << 2400 << false << false << false << false;
    QTest::newRow("first samples left of the view") << 0.0005 << 0.3 << 700 << false << false << false << false;
    QTest::newRow("pauses between samples") << 0.1 << 0.9 << 900 << false << false << true << false;
    QTest::newRow("NaN values") << 0.0 << 1.0 << 900 << false << false << false << true;
    QTest::newRow("reversed time axis") << 0.2 << 0.8 << 900 << true << false << true << false;
    QTest::newRow("logarithmic time axis") << 0.001 << 1.0 << 900 << false << true << false << false;
}

void TstPlot::denseLineData()
{
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(int, width);
    QFETCH(bool, reversed);
    QFETCH(bool, logarithmic);
    QFETCH(bool, pauses);
    QFETCH(bool, holes);

    QCustomPlot plot;
    plot.setViewport(QRect(0, 0, width, 400));
    auto* graph = new ProbeGraph(plot.xAxis, plot.yAxis);
    const Series s = makeSeries(300000, 7, pauses, holes, 1.0);
    graph->setData(s.keys, s.values, true);
    const double span = s.keys.last() - s.keys.first();
    plot.xAxis->setRange(s.keys.first() + from * span, s.keys.first() + to * span);
    plot.xAxis->setRangeReversed(reversed);
    if (logarithmic)
        plot.xAxis->setScaleType(QCPAxis::stLogarithmic);
    plot.yAxis->setRange(-100, 100);
    plot.replot();

    // Dense enough for per-column sampling, and large.
    const int columns = plot.axisRect()->width();
    QVERIFY2(graph->visibleCount() >= 2 * columns + 2, qPrintable(QString::number(graph->visibleCount())));
    QVERIFY(graph->visibleCount() >= 5000);

    const QVector<QCPGraphData> plain = graph->lineData(true);
    const QString difference = lineDifference(graph->lineData(false), plain);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    QVERIFY(plain.size() > columns);
}

void TstPlot::denseLineDataFollowsChanges()
{
    QCustomPlot plot;
    plot.setViewport(QRect(0, 0, 800, 400));
    auto* graph = new ProbeGraph(plot.xAxis, plot.yAxis);
    plot.yAxis->setRange(-100, 100);
    const Series s = makeSeries(200000, 11, true);
    int stored = 100000;
    graph->setData(s.keys.mid(0, stored), s.values.mid(0, stored), true);

    const auto check = [&](const char* step) {
        const QCPGraphDataContainer& data = *graph->data();
        if (!data.isEmpty())
            plot.xAxis->setRange(data.constBegin()->key, (data.constEnd() - 1)->key);
        plot.replot();
        const QString difference = lineDifference(graph->lineData(false), graph->lineData(true));
        return difference.isEmpty() ? QString() : QString("%1: %2").arg(step, difference);
    };
    QString failure = check("first draw");
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    // Appends of every size, across block boundaries.
    for (const int chunk : { 1, 15, 16, 17, 4095, 4097, 60000 }) {
        graph->appendData(s.keys.mid(stored, chunk), s.values.mid(stored, chunk));
        stored += chunk;
        failure = check("append");
        QVERIFY2(failure.isEmpty(), qPrintable(QString("%1 after %2").arg(failure).arg(chunk)));
    }

    // Shrunk.
    graph->data()->removeAfter(s.keys[150000]);
    failure = check("removed at the end");
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    graph->data()->removeBefore(s.keys[3]);
    failure = check("removed at the start");
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    // Replaced by as many samples with the same first and last sample.
    Series other = makeSeries(stored, 12, true);
    other.keys = s.keys.mid(0, stored);
    other.values.first() = s.values.first();
    other.values.last() = s.values[stored - 1];
    graph->replaceData(s.keys.mid(0, stored), s.values.mid(0, stored));
    failure = check("set");
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    graph->replaceData(other.keys, other.values);
    failure = check("replaced, same ends");
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    // Cleared and set again; a container of its own.
    graph->data()->clear();
    QVERIFY(graph->lineData(false).isEmpty());
    graph->replaceData(s.keys, s.values);
    failure = check("cleared and set");
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QSharedPointer<QCPGraphDataContainer> own(new QCPGraphDataContainer);
    own->add(*graph->data());
    own->removeAfter(s.keys[120000]);
    graph->setData(own);
    failure = check("own container");
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    // Keys out of order (one far off), passed as sorted: drawn the plain way.
    QVector<double> glitch = s.keys;
    glitch[150000] += (s.keys.last() - s.keys.first()) / 5;
    graph->replaceData(glitch, s.values);
    failure = check("keys out of order");
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

void TstPlot::densePicture_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("none") << "none";
    QTest::newRow("zoomed in") << "zoom";
    QTest::newRow("value range") << "value range";
    QTest::newRow("samples appended") << "append";
    QTest::newRow("samples replaced") << "replace";
    QTest::newRow("pen") << "pen";
    QTest::newRow("no antialiasing") << "antialiasing";
}

void TstPlot::densePicture()
{
    QFETCH(QString, change);

    // Two plots alike but for the kind of graph.
    QCustomPlot fast;
    QCustomPlot plain;
    const QColor colors[] = { Qt::darkYellow, Qt::darkGreen, Qt::blue };
    QVector<Series> series;
    for (int i = 0; i < 3; ++i)
        series.append(makeSeries(400000, 20 + i));
    for (QCustomPlot* plot : { &fast, &plain }) {
        plot->resize(900, 500);
        plot->show();
        for (int i = 0; i < 3; ++i) {
            QCPGraph* graph
                = plot == &fast ? new MinMaxGraph(plot->xAxis, plot->yAxis) : new QCPGraph(plot->xAxis, plot->yAxis);
            graph->setPen(QPen(colors[i], 1));
            setSamples(graph, series[i].keys.mid(0, 300000), series[i].values.mid(0, 300000));
        }
        plot->xAxis->setRange(0, series[0].keys[300000]);
        plot->yAxis->setRange(-300, 300);
    }
    QVERIFY(QTest::qWaitForWindowExposed(&fast));
    QVERIFY(QTest::qWaitForWindowExposed(&plain));

    // A view drawn afresh matches the plain graph's to the bit. A kept
    // picture is blended in one go rather than stroke by stroke, which may
    // round the colour of an edge pixel that several strokes cover a little
    // differently; a stale picture would be far off.
    const auto compare = [&](const char* when, int tolerance) {
        const int d = largestDifference(drawn(fast), drawn(plain));
        return d <= tolerance ? QString() : QString("%1: colours differ by %2").arg(when).arg(d);
    };
    for (const char* when : { "drawn", "drawn again", "drawn a third time" }) {
        const QString failure = compare(when, kKeptPictureRounding);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }

    for (QCustomPlot* plot : { &fast, &plain }) {
        if (change == "zoom")
            plot->xAxis->setRange(series[0].keys[120000], series[0].keys[190000]);
        else if (change == "value range")
            plot->yAxis->setRange(-200, 250);
        for (int i = 0; i < 3; ++i) {
            QCPGraph* graph = plot->graph(i);
            if (change == "append")
                addSamples(graph, series[i].keys.mid(300000, 50000), series[i].values.mid(300000, 50000));
            else if (change == "replace")
                setSamples(graph, series[i].keys.mid(0, 300000), series[(i + 1) % 3].values.mid(0, 300000));
            else if (change == "pen")
                graph->setPen(QPen(colors[(i + 1) % 3], 1));
            else if (change == "antialiasing")
                graph->setAntialiased(false);
        }
    }
    QString failure = compare("first draw after the change", change == "none" ? kKeptPictureRounding : 0);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    for (const char* when : { "drawn again", "drawn a third time" }) {
        failure = compare(when, kKeptPictureRounding);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }
}

void TstPlot::denseChangeDrawnAfresh_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("refilled, same size") << "same size";
    QTest::newRow("refilled, more samples") << "more";
    QTest::newRow("appended, repeating the first key") << "first key";
}

void TstPlot::denseChangeDrawnAfresh()
{
    // Each change keeps both ends and almost every sample in place, and brings
    // a spike in among the samples already drawn: drawn from an old summary or
    // picture, the spike would be missing.
    QFETCH(QString, change);
    Series before = makeSeries(200000, 41);
    if (change == "first key") { // a burst of samples at one instant
        before.keys.fill(1.0);
        before.values.fill(5.0);
    }
    const auto [low, high] = std::minmax_element(before.values.constBegin(), before.values.constEnd());
    const double spike = *high + 500;
    Series after = before;
    if (change == "same size") {
        after.values[123457] = spike;
    } else if (change == "more") {
        after = makeSeries(201000, 41);
        after.values[123457] = spike;
    } else {
        after.keys = { 1.0, 1.0 }; // new samples in front of the old ones
        after.values = { 5.0, spike };
    }

    QCustomPlot fast;
    QCustomPlot plain;
    for (QCustomPlot* plot : { &fast, &plain }) {
        plot->resize(900, 500);
        plot->show();
        QCPGraph* graph
            = plot == &fast ? new MinMaxGraph(plot->xAxis, plot->yAxis) : new QCPGraph(plot->xAxis, plot->yAxis);
        graph->setPen(QPen(Qt::darkYellow, 1));
        setSamples(graph, before.keys, before.values);
        plot->xAxis->setRange(before.keys.first() - 1, before.keys.last() + 1);
        plot->yAxis->setRange(*low - 10, spike + 100);
    }
    QVERIFY(QTest::qWaitForWindowExposed(&fast));
    QVERIFY(QTest::qWaitForWindowExposed(&plain));
    for (int i = 0; i < 3; ++i) // the view is drawn so often its picture is kept
        QVERIFY(largestDifference(drawn(fast), drawn(plain)) <= kKeptPictureRounding);

    for (QCustomPlot* plot : { &fast, &plain }) {
        if (change == "first key")
            addSamples(plot->graph(0), after.keys, after.values);
        else
            setSamples(plot->graph(0), after.keys, after.values);
    }
    QCOMPARE(largestDifference(drawn(fast), drawn(plain)), 0);
    QVERIFY(largestDifference(drawn(fast), drawn(plain)) <= kKeptPictureRounding);
}

void TstPlot::curvesDrawnLikePlainGraphs()
{
    auto plot = makePlot();
    QVERIFY(QTest::qWaitForWindowExposed(plot.get()));
    plot->clearCurvesData();
    plot->showCurves({ 0, 1, 4 });

    // Fed the way a recording feeds it, in slices of the accumulated lists.
    const int curves[] = { 0, 1, 4 };
    QVector<Series> series;
    for (int i = 0; i < 3; ++i)
        series.append(makeSeries(250000, 30 + i));
    const auto feed = [&](int count) {
        for (int i = 0; i < 3; ++i)
            plot->addCurvesData(curves[i], series[0].keys.mid(0, count), series[i].values.mid(0, count));
    };
    for (const int count : { 1000, 90001, 200000 })
        feed(count);
    for (const int curve : curves)
        QVERIFY(qobject_cast<MinMaxGraph*>(graphOf(*plot, curve)));

    // Plain graphs over the same samples, drawn in the same order, out of the legend.
    QVector<QCPGraph*> own;
    QVector<QCPGraph*> plainGraphs;
    for (const int curve : curves) {
        QCPGraph* graph = graphOf(*plot, curve);
        auto* plain = new QCPGraph(plot->xAxis, graph->valueAxis());
        plain->removeFromLegend();
        plain->setPen(graph->pen());
        plain->setData(graph->data());
        plain->setVisible(false);
        own.append(graph);
        plainGraphs.append(plain);
    }
    const auto compare = [&](const char* when, int tolerance) {
        const QImage mine = drawn(*plot);
        for (int i = 0; i < 3; ++i) {
            own[i]->setVisible(false);
            plainGraphs[i]->setVisible(true);
        }
        const QImage reference = drawn(*plot);
        for (int i = 0; i < 3; ++i) {
            own[i]->setVisible(true);
            plainGraphs[i]->setVisible(false);
        }
        const int d = largestDifference(mine, reference);
        return d <= tolerance ? QString() : QString("%1: colours differ by %2").arg(when).arg(d);
    };

    plot->scaledAllCurves();
    QString failure = compare("fit all", 0);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    failure = compare("fit all again", kKeptPictureRounding);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    plot->setZoom(Qt::Checked);
    feed(250000);
    plot->scaledAllCurves();
    failure = compare("fed more, fit all", 0);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    failure = compare("fed more, fit all again", kKeptPictureRounding);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    plot->xAxis->setRange(series[0].keys[10007], series[0].keys[90001]);
    failure = compare("zoomed in", 0);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

QTEST_MAIN(TstPlot)
#include "tst_plot.moc"
