#include "detect/MotionAnalysis.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {
double Mean(const std::vector<float> &values)
{
    return values.empty() ? 0 : std::accumulate(values.begin(), values.end(), 0.0) / values.size();
}
} // namespace

void MotionAnalysis::setSensitivity(int sensitivity)
{
    m_sensitivity = std::clamp(sensitivity, 0, 100);
}

double MotionAnalysis::threshold() const
{
    return 0.06 * std::pow(0.01, m_sensitivity / 100.0);
}

void MotionAnalysis::reset()
{
    m_background.clear();
    m_deviation.clear();
    m_learnedFrames = 0;
    m_motionRun = m_coveredRun = 0;
    m_changedShare = 0;
}

// Flat: nearly every cell close to the middle one; dark: nearly every cell
// black. A small bright thing in the dark is still dark.
bool MotionAnalysis::coveredLooking() const
{
    std::vector<float> sorted = m_cells;
    const size_t middle = sorted.size() / 2;
    std::nth_element(sorted.begin(), sorted.begin() + middle, sorted.end());
    const float median = sorted[middle];
    size_t nearMedian = 0, black = 0;
    for (float cell : m_cells) {
        nearMedian += std::abs(cell - median) <= 12 ? 1 : 0;
        black += cell < 24 ? 1 : 0;
    }
    const double cells = double(m_cells.size());
    return nearMedian >= 0.99 * cells || black >= 0.97 * cells;
}

MotionAnalysis::Verdict MotionAnalysis::feed(const QImage &frame)
{
    const QImage grey = frame.format() == QImage::Format_Grayscale8
                            ? frame
                            : frame.convertToFormat(QImage::Format_Grayscale8);
    const int width = grey.width() / 2, height = grey.height() / 2;
    if (width == 0 || height == 0)
        return Verdict::Nothing;
    if (width != m_width || height != m_height) {
        m_width = width;
        m_height = height;
        reset();
    }
    m_cells.resize(size_t(width) * height);
    for (int y = 0; y < height; ++y) {
        const uchar *top = grey.constScanLine(2 * y), *bottom = grey.constScanLine(2 * y + 1);
        for (int x = 0; x < width; ++x)
            m_cells[size_t(y) * width + x] =
                (top[2 * x] + top[2 * x + 1] + bottom[2 * x] + bottom[2 * x + 1]) / 4.0f;
    }
    const bool covered = coveredLooking();
    if (m_background.empty()) {
        m_background = m_cells;
        m_deviation.assign(m_cells.size(), 0.0f);
        m_baselineCovered = covered;
        return Verdict::Nothing;
    }
    if (!covered)
        m_baselineCovered = false;
    if (covered && !m_baselineCovered) {
        // The background stays what the lens saw before.
        m_motionRun = 0;
        return ++m_coveredRun == ConsecutiveFrames ? Verdict::Covered : Verdict::Nothing;
    }
    m_coveredRun = 0;
    // The exposure: the whole picture brighter or darker is no change.
    const double frameMean = Mean(m_cells), backgroundMean = Mean(m_background);
    const float gain = frameMean >= 8 && backgroundMean >= 8
                           ? float(std::clamp(backgroundMean / frameMean, 0.5, 2.0))
                           : 1.0f;
    // While learning, the background and each cell's usual deviation are
    // the average of the frames so far; then they follow slowly.
    const bool learning = ++m_learnedFrames < LearningFrames;
    const float rate = learning ? 1.0f / float(m_learnedFrames + 1) : float(BackgroundRate);
    size_t changed = 0;
    for (size_t i = 0; i < m_cells.size(); ++i) {
        const float cell = m_cells[i] * gain;
        const float difference = std::abs(cell - m_background[i]);
        const bool cellChanged =
            difference > std::max(float(CellChange), NoiseFactor * m_deviation[i]);
        changed += cellChanged ? 1 : 0;
        // What changed is followed slowly: someone passing again and again
        // would otherwise become the background and its usual noise, and go
        // unseen. A thing that stays, or a lasting flicker, is still learnt.
        const float cellRate = learning || !cellChanged ? rate : rate * ChangedCellShare;
        m_background[i] += cellRate * (cell - m_background[i]);
        m_deviation[i] += cellRate * (difference - m_deviation[i]);
    }
    m_changedShare = double(changed) / double(m_cells.size());
    if (learning || m_changedShare <= threshold()) {
        m_motionRun = 0;
        return Verdict::Nothing;
    }
    return ++m_motionRun == ConsecutiveFrames ? Verdict::Motion : Verdict::Nothing;
}
