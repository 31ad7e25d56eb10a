#include "minmaxgraph.h"

#include <cmath>
#include <limits>

namespace {

// Samples (or entries of the level below) per summary entry.
constexpr int kBlock = 16;

// Views of fewer samples than this are cheap to walk; they skip the summary.
constexpr int kMinSummarisedView = 4096;

// Lines of fewer points are quicker to stroke again than to keep as a picture.
constexpr int kMinKeptLinePoints = 1024;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// NaN values carry no extreme: they are left out unless nothing else is there.
inline void includeMin(double& current, double v)
{
    if (v < current || std::isnan(current))
        current = v;
}

inline void includeMax(double& current, double v)
{
    if (v > current || std::isnan(current))
        current = v;
}

} // namespace

bool MinMaxGraph::AxisState::operator==(const AxisState& other) const
{
    return axis == other.axis && range == other.range && scaleType == other.scaleType && reversed == other.reversed
        && rect == other.rect;
}

bool MinMaxGraph::DrawState::operator==(const DrawState& other) const
{
    return dataGeneration == other.dataGeneration && keyAxis == other.keyAxis && valueAxis == other.valueAxis
        && pen == other.pen && lineStyle == other.lineStyle && adaptiveSampling == other.adaptiveSampling
        && antialiasing == other.antialiasing && hints == other.hints && plottingHints == other.plottingHints
        && clip == other.clip;
}

MinMaxGraph::MinMaxGraph(QCPAxis* keyAxis, QCPAxis* valueAxis)
    : QCPGraph(keyAxis, valueAxis)
{
}

void MinMaxGraph::replaceData(const QVector<double>& keys, const QVector<double>& values)
{
    setData(keys, values, true);
    markDataChanged();
}

void MinMaxGraph::appendData(const QVector<double>& keys, const QVector<double>& values)
{
    if (keys.isEmpty() || values.isEmpty())
        return;
    const QCPGraphDataContainer& data = *mDataContainer;
    // The container appends at the end only what lies after its last key (and
    // so after its first); it puts the rest in front or merges it in.
    const bool atEnd
        = !data.isEmpty() && (data.constEnd() - 1)->key < keys.first() && data.constBegin()->key < keys.last();
    const bool summaryKnown = data.size() == announcedCount;
    addData(keys, values, true);
    ++dataGeneration;
    if (atEnd && summaryKnown)
        announcedCount = mDataContainer->size();
    else
        summaryStale = true;
}

void MinMaxGraph::markDataChanged()
{
    ++dataGeneration;
    summaryStale = true;
}

void MinMaxGraph::draw(QCPPainter* painter)
{
    DrawState state;
    if (!captureDrawState(painter, &state)) {
        lastStateKnown = false;
        picture = QImage();
        QCPGraph::draw(painter);
        return;
    }

    const bool pictureKept = !picture.isNull() && state == pictureState;
    const bool drawnSoBefore = lastStateKnown && state == lastState && lastLineCount >= kMinKeptLinePoints;
    lastState = state;
    lastStateKnown = true;
    if (!pictureKept) {
        picture = QImage();
        if (!drawnSoBefore) {
            // A view seen once is often gone by the next draw (live, dragging):
            // draw it straight away.
            lastLineCount = 0;
            QCPGraph::draw(painter);
            return;
        }
        // The same dense view again: draw it once more into a picture of the
        // clip area, on transparent, the same way, and keep that.
        const QRect area = state.clip.toRect();
        QImage image(area.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QCPPainter imagePainter(&image);
        imagePainter.setModes(painter->modes());
        imagePainter.setRenderHints(painter->renderHints() & ~QPainter::RenderHints(QPainter::Antialiasing));
        imagePainter.translate(-area.left(), -area.top());
        imagePainter.setClipRect(area);
        imagePainter.setAntialiasing(state.antialiasing);
        QCPGraph::draw(&imagePainter);
        imagePainter.end();
        picture = image;
        pictureOrigin = area.topLeft();
        pictureState = state;
    }
    painter->save();
    painter->setWorldTransform(QTransform());
    painter->drawImage(pictureOrigin, picture);
    painter->restore();
}

bool MinMaxGraph::captureDrawState(QCPPainter* painter, DrawState* state) const
{
    // Only plain drawing on screen is kept: no exports, no fills, symbols or
    // selections, no scaling.
    QCPAxis* keyAxis = mKeyAxis.data();
    QCPAxis* valueAxis = mValueAxis.data();
    if (!painter || !painter->device() || !keyAxis || !valueAxis || !mParentPlot)
        return false;
    if (painter->modes().testFlag(QCPPainter::pmVectorized) || painter->modes().testFlag(QCPPainter::pmNoCaching))
        return false;
    if (painter->opacity() != 1.0 || painter->compositionMode() != QPainter::CompositionMode_SourceOver
        || !painter->hasClipping() || painter->device()->devicePixelRatioF() != 1.0)
        return false;
    if (mLineStyle == lsNone || mBrush.style() != Qt::NoBrush || !mScatterStyle.isNone() || !selection().isEmpty())
        return false;
    // The painter shifts by half a pixel while antialiasing; nothing else.
    const QTransform expected = painter->antialiasing() ? QTransform::fromTranslate(0.5, 0.5) : QTransform();
    if (painter->worldTransform() != expected)
        return false;
    const QRectF clip = painter->worldTransform().mapRect(painter->clipBoundingRect());
    if (clip.isEmpty() || QRectF(clip.toRect()) != clip)
        return false;

    updateSummary();
    const auto axisState = [](const QCPAxis* axis) {
        AxisState a;
        a.axis = axis;
        a.range = axis->range();
        a.scaleType = int(axis->scaleType());
        a.reversed = axis->rangeReversed();
        a.rect = axis->axisRect()->rect();
        return a;
    };
    state->dataGeneration = dataGeneration;
    state->keyAxis = axisState(keyAxis);
    state->valueAxis = axisState(valueAxis);
    state->pen = mPen;
    state->lineStyle = int(mLineStyle);
    state->adaptiveSampling = mAdaptiveSampling;
    state->antialiasing = painter->antialiasing();
    state->hints = painter->renderHints();
    state->plottingHints = int(mParentPlot->plottingHints());
    state->clip = clip;
    return true;
}

void MinMaxGraph::getOptimizedLineData(QVector<QCPGraphData>* lineData,
    const QCPGraphDataContainer::const_iterator& begin, const QCPGraphDataContainer::const_iterator& end) const
{
    QCPAxis* keyAxis = mKeyAxis.data();
    const int count = int(end - begin);
    if (!lineData || !keyAxis || !mValueAxis || !mAdaptiveSampling || count < kMinSummarisedView) {
        QCPGraph::getOptimizedLineData(lineData, begin, end);
        lastLineCount = lineData ? lineData->size() : 0;
        return;
    }

    // The plain graph samples per pixel column from two samples per column
    // on; below that it draws every sample, and so does this one.
    const double keyPixelSpan = qAbs(keyAxis->coordToPixel(begin->key) - keyAxis->coordToPixel((end - 1)->key));
    int maxCount = std::numeric_limits<int>::max();
    if (2 * keyPixelSpan + 2 < static_cast<double>(std::numeric_limits<int>::max()))
        maxCount = int(2 * keyPixelSpan + 2);

    const QCPGraphDataContainer::const_iterator s = mDataContainer->constBegin();
    const int from = int(begin - s);
    const int to = int(end - s);
    if (count < maxCount || from < 0 || to > mDataContainer->size()) {
        QCPGraph::getOptimizedLineData(lineData, begin, end);
        lastLineCount = lineData->size();
        return;
    }

    updateSummary();
    if (to > sortedCount) {
        QCPGraph::getOptimizedLineData(lineData, begin, end);
        lastLineCount = lineData->size();
        return;
    }

    // The plain graph's per-column sampling, column by column instead of
    // sample by sample: a column holds the samples from its first one up to
    // the first key one pixel on; where it holds two or more it becomes its
    // extremes, framed by its first and last sample where its neighbours
    // are further away. Same arithmetic, so the same points.
    const int reversedFactor = keyAxis->pixelOrientation();
    const int reversedRound = reversedFactor == -1 ? 1 : 0;
    const bool keyEpsilonVariable = keyAxis->scaleType() == QCPAxis::stLogarithmic;
    int first = from;
    double startKey = keyAxis->pixelToCoord(int(keyAxis->coordToPixel(s[first].key) + reversedRound));
    double lastEndKey = startKey;
    double epsilon = qAbs(startKey - keyAxis->pixelToCoord(keyAxis->coordToPixel(startKey) + 1.0 * reversedFactor));
    int lastColumnCount = 1;
    for (;;) {
        const int next = firstKeyNotBelow(first + 1, to, startKey + epsilon, lastColumnCount - 1);
        lastColumnCount = next - first;
        const QCPGraphData& firstSample = s[first];
        if (next - first >= 2) {
            // A column starting with a NaN value stays NaN, as in the plain graph.
            const Extremes e = std::isnan(firstSample.value) ? Extremes { firstSample.value, firstSample.value }
                                                             : extremes(first, next);
            if (lastEndKey < startKey - epsilon)
                lineData->append(QCPGraphData(startKey + epsilon * 0.2, firstSample.value));
            lineData->append(QCPGraphData(startKey + epsilon * 0.25, e.min));
            lineData->append(QCPGraphData(startKey + epsilon * 0.75, e.max));
            if (next < to && s[next].key > startKey + epsilon * 2)
                lineData->append(QCPGraphData(startKey + epsilon * 0.8, s[next - 1].value));
        } else {
            lineData->append(QCPGraphData(firstSample.key, firstSample.value));
        }
        if (next == to)
            break;
        lastEndKey = s[next - 1].key;
        first = next;
        startKey = keyAxis->pixelToCoord(int(keyAxis->coordToPixel(s[first].key) + reversedRound));
        if (keyEpsilonVariable)
            epsilon = qAbs(startKey - keyAxis->pixelToCoord(keyAxis->coordToPixel(startKey) + 1.0 * reversedFactor));
    }
    lastLineCount = lineData->size();
}

void MinMaxGraph::updateSummary() const
{
    const QSharedPointer<QCPGraphDataContainer>& data = mDataContainer;
    const int n = data->size();
    const QCPGraphDataContainer::const_iterator s = data->constBegin();
    // Only announced appends extend the summary: after any other change it
    // starts anew, and so does the picture.
    if (summaryStale || summarised.toStrongRef() != data || n != announcedCount) {
        if (!summaryStale)
            ++dataGeneration; // changed unannounced
        summarised = data;
        summaryStale = false;
        announcedCount = n;
        checkedCount = 0;
        sortedCount = 0;
        levels.clear();
    }
    if (n == checkedCount)
        return;

    // Once out of order, the samples stay out of order until replaced.
    if (sortedCount == checkedCount) {
        int i = qMax(sortedCount, 1);
        while (i < n && s[i - 1].key <= s[i].key)
            ++i;
        sortedCount = i;
    }

    if (levels.empty())
        levels.emplace_back();
    // Left to grow by itself: an exact-size reserve would copy the whole level
    // at every new block.
    std::vector<Extremes>& samplesLevel = levels[0];
    for (int b = int(samplesLevel.size()); b < n / kBlock; ++b) {
        Extremes e { kNaN, kNaN };
        for (int i = b * kBlock; i < (b + 1) * kBlock; ++i) {
            includeMin(e.min, s[i].value);
            includeMax(e.max, s[i].value);
        }
        samplesLevel.push_back(e);
    }
    for (size_t k = 1; levels[k - 1].size() >= size_t(kBlock); ++k) {
        if (levels.size() == k)
            levels.emplace_back();
        const std::vector<Extremes>& below = levels[k - 1];
        std::vector<Extremes>& level = levels[k];
        const size_t whole = below.size() / kBlock;
        for (size_t b = level.size(); b < whole; ++b) {
            Extremes e { kNaN, kNaN };
            for (size_t i = b * kBlock; i < (b + 1) * kBlock; ++i) {
                includeMin(e.min, below[i].min);
                includeMax(e.max, below[i].max);
            }
            level.push_back(e);
        }
    }

    checkedCount = n;
}

MinMaxGraph::Extremes MinMaxGraph::extremes(int from, int to) const
{
    // Walk up the levels: loose samples (or entries) at both ends of the
    // range at each level, the whole blocks between them one level up.
    Extremes e { kNaN, kNaN };
    const QCPGraphDataContainer::const_iterator s = mDataContainer->constBegin();
    int lo = from;
    int hi = to;
    int level = -1; // the samples themselves
    const auto walk = [&](int a, int b) {
        if (level < 0) {
            for (int i = a; i < b; ++i) {
                includeMin(e.min, s[i].value);
                includeMax(e.max, s[i].value);
            }
        } else {
            const std::vector<Extremes>& entries = levels[size_t(level)];
            for (int i = a; i < b; ++i) {
                includeMin(e.min, entries[size_t(i)].min);
                includeMax(e.max, entries[size_t(i)].max);
            }
        }
    };
    while (lo < hi) {
        const int firstWhole = lo / kBlock + (lo % kBlock != 0 ? 1 : 0);
        const int endWhole = hi / kBlock;
        const size_t up = size_t(level + 1);
        if (up >= levels.size() || firstWhole >= endWhole || endWhole > int(levels[up].size())) {
            walk(lo, hi);
            break;
        }
        walk(lo, firstWhole * kBlock);
        walk(endWhole * kBlock, hi);
        lo = firstWhole;
        hi = endWhole;
        ++level;
    }
    return e;
}

int MinMaxGraph::firstKeyNotBelow(int from, int to, double key, int guess) const
{
    // Start at the guess (neighbouring columns hold about as many samples),
    // gallop away from it, then bisect.
    const QCPGraphDataContainer::const_iterator s = mDataContainer->constBegin();
    int lo = from; // keys in [from, lo) are below key
    int hi = to; // keys in [hi, to) are not
    const int g = guess < to - from ? from + qMax(guess, 0) : to;
    if (g < to && !(s[g].key < key)) {
        hi = g;
        qint64 step = 1;
        while (step <= hi - lo) {
            const int probe = int(hi - step);
            if (s[probe].key < key) {
                lo = probe + 1;
                break;
            }
            hi = probe;
            step *= 2;
        }
    } else {
        if (g < to)
            lo = g + 1;
        qint64 step = 1;
        while (step <= hi - lo) {
            const int probe = int(lo + step - 1);
            if (!(s[probe].key < key)) {
                hi = probe;
                break;
            }
            lo = probe + 1;
            step *= 2;
        }
    }
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (s[mid].key < key)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}
