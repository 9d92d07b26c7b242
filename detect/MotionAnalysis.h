#pragma once
// What a camera's small grey frames say: motion (a share of the picture
// changed against a slowly updated background) or a covered lens (the
// picture gone flat or dark). Noise (frames are compared in 2x2 cells, and
// a cell must change beyond its own usual deviation), slow light changes
// (the background follows) and changes of the camera's exposure (the
// brightness of the whole picture is evened out) are no motion. What
// changed is taken into the background slowly, so that each of many passes
// is seen. The first LearningFrames frames only learn the scene. A picture
// already flat or dark in the first frame is the baseline, no covered lens.

#include <QImage>
#include <vector>

class MotionAnalysis
{
public:
    enum class Verdict
    {
        Nothing,
        Motion,
        Covered
    };

    // 0..100 (default 50): the share of the picture that must change, from
    // 6 % down to 0.06 %.
    void setSensitivity(int sensitivity);
    int sensitivity() const { return m_sensitivity; }
    double threshold() const;

    // Forgets the background: the next frame is the new baseline.
    void reset();
    // A Format_Grayscale8 frame (any other is converted). Motion and
    // Covered are said once each time they are seen in ConsecutiveFrames
    // frames in a row.
    Verdict feed(const QImage &frame);
    double changedShare() const { return m_changedShare; }

    static constexpr int ConsecutiveFrames = 2;
    static constexpr int CellChange = 20;          // grey levels of a 2x2 cell's mean
    static constexpr double BackgroundRate = 0.05; // per frame
    static constexpr float NoiseFactor = 4;        // times a cell's usual deviation
    static constexpr float ChangedCellShare = 0.2f; // of the rate, for a changed cell
    static constexpr int LearningFrames = 10;

private:
    bool coveredLooking() const;

    int m_sensitivity = 50;
    int m_width = 0, m_height = 0;
    std::vector<float> m_cells, m_background, m_deviation;
    int m_learnedFrames = 0;
    bool m_baselineCovered = false;
    int m_motionRun = 0, m_coveredRun = 0;
    double m_changedShare = 0;
};
