#include "axistag.h"
#include "lmmulticurvesplot.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPointer>
#include <QSignalSpy>
#include <QStringList>
#include <QtTest>
#include <algorithm>
#include <cmath>
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
    plot->showCurves({ 0, 1 });
    const QVector<double> keys = { 50, 60, 70 };
    plot->addCurvesData(0, keys, { 1.5, 2.5, 3.5 });
    plot->addCurvesData(1, keys, { 10, 20, 30 });
    plot->xAxis->setRange(0, 200);
    plot->replot();
    plot->setTracer(true);

    struct Case
    {
        double mouseKey;
        const char* value0;
        const char* value1;
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
        QCOMPARE(tagOf(*plot, 1)->text(), QString(c.value1));
        QCOMPARE(crosshair(*plot)->position->key(), c.crosshairKey);
        QCOMPARE(timeLabel(*plot)->text(), QString(c.time));
        QCOMPARE(timeLabel(*plot)->position->pixelPosition(), QPointF(pos.x(), plot->viewport().height() - 55));
    }
    QCOMPARE(crosshair(*plot)->graph(), graphOf(*plot, 0));
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

QTEST_MAIN(TstPlot)
#include "tst_plot.moc"
