#pragma once

#include <QImage>
#include <QPainter>
#include <QPen>
#include <QRect>
#include <QRectF>
#include <QVector>
#include <QWeakPointer>
#include <qcustomplot.h>
#include <vector>

// A graph that redraws views of millions of samples quickly, with the plain
// graph's picture.
//
// It keeps the smallest and largest value of each block of samples, and of
// each block of blocks, and builds the line of a dense view (many samples per
// pixel column) from them: the same line points as the plain graph's
// per-column sampling, without walking every visible sample. And when a dense
// view is drawn again unchanged (a cursor moving over a long recording), it
// draws the picture it kept from the last time instead of stroking the line
// again. That picture is blended onto the plot in one go rather than stroke
// by stroke, so where several strokes cover an edge pixel its colour may
// round a few steps (of 255) apart from the plain graph's.
//
// Both are told of every change of the samples: appendData() extends the
// summary by what it appends after the last sample; replaceData(), and
// markDataChanged() after any other change, make the next draw take the
// samples anew. A container swapped, or of a size the announced changes don't
// explain, is taken anew too; only a change in place that keeps the size
// must be announced. Samples out of ascending key order, and views of few
// samples, are drawn the plain way.
class MinMaxGraph : public QCPGraph
{
    Q_OBJECT
public:
    MinMaxGraph(QCPAxis* keyAxis, QCPAxis* valueAxis);

    // The samples become keys and values (ascending keys).
    void replaceData(const QVector<double>& keys, const QVector<double>& values);
    // Adds samples with ascending keys. Samples that come after the last one
    // extend the summary; the container puts any others in front or in
    // between, and then the samples are taken anew.
    void appendData(const QVector<double>& keys, const QVector<double>& values);
    // The samples were changed through data(): nothing drawn or summed up
    // before is used again.
    void markDataChanged();

protected:
    void draw(QCPPainter* painter) override;
    void getOptimizedLineData(QVector<QCPGraphData>* lineData, const QCPGraphDataContainer::const_iterator& begin,
        const QCPGraphDataContainer::const_iterator& end) const override;

private:
    struct Extremes
    {
        double min;
        double max;
    };

    struct AxisState
    {
        const QCPAxis* axis = nullptr;
        QCPRange range;
        int scaleType = 0;
        bool reversed = false;
        QRect rect;
        bool operator==(const AxisState& other) const;
    };

    // Everything the drawn line depends on.
    struct DrawState
    {
        quint64 dataGeneration = 0;
        AxisState keyAxis;
        AxisState valueAxis;
        QPen pen;
        int lineStyle = 0;
        bool adaptiveSampling = false;
        bool antialiasing = false;
        QPainter::RenderHints hints;
        int plottingHints = 0;
        QRectF clip;
        bool operator==(const DrawState& other) const;
    };

    bool captureDrawState(QCPPainter* painter, DrawState* state) const;
    void updateSummary() const;
    Extremes extremes(int from, int to) const;
    int firstKeyNotBelow(int from, int to, double key, int guess) const;

    // The summary caches what the samples hold; drawing (a const operation,
    // GUI thread) brings it up to date, hence mutable.
    mutable QWeakPointer<QCPGraphDataContainer> summarised; // the container described
    mutable quint64 dataGeneration = 0; // counts the changes of the samples
    mutable bool summaryStale = true; // the samples are to be taken anew
    mutable int announcedCount = 0; // samples the container holds by the changes announced
    mutable int checkedCount = 0; // leading samples summed up
    mutable int sortedCount = 0; // leading samples in ascending key order
    // levels[0]: extremes of each whole block of samples; levels[k]: of each
    // whole block of entries of levels[k - 1]. NaN values are left out.
    mutable std::vector<std::vector<Extremes>> levels;

    mutable int lastLineCount = 0; // line points of the last line built
    bool lastStateKnown = false; // the last draw could be kept, in this state
    DrawState lastState;
    QImage picture; // the line drawn in pictureState, on transparent, at pictureOrigin
    QPoint pictureOrigin;
    DrawState pictureState;
};
