#include "tracking/feature_tracker.h"

#include <algorithm>
#include <cstring>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include "tracking/head_switch.h"

namespace {

// The flow's and the refinement's stopping rule: 20 iterations, or a step below 0.03 (the
// single-precision constant widened to double, as the tracker has always used it).
const cv::TermCriteria kCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 20, static_cast<double>(0.03f));

// The flow's window of half-size 10 is 21 pixels wide; the refinement takes the half-size itself.
const cv::Size kFlowWindow(2 * CFeatureTracker::kWindowSize + 1, 2 * CFeatureTracker::kWindowSize + 1);
const cv::Size kRefineWindow(CFeatureTracker::kWindowSize, CFeatureTracker::kWindowSize);

}  // namespace

CFeatureTracker::CFeatureTracker(CTrackingState& state, IMotionSink* observer, MotionTargets targets)
    : m_state(state), m_pObserver(observer), m_targets(targets) {}

CFeatureTracker::~CFeatureTracker() = default;

bool CFeatureTracker::OnFrame(CameraFrame& frame) {
    const int detectCount = m_state.m_detect.m_iHeadDetectCount;
    const bool news = detectCount != m_iLastDetectCount;
    const bool wasHalted = m_iStaleFrames > kStaleFrameLimit;
    if (IsStale(detectCount)) return true;
    if (m_frameSize.empty()) CreateImages({frame.Width(), frame.Height()});
    if (!frame.Grey(m_grey)) return false;

    // Points kept through a halt lie on a picture seconds old: tracking starts afresh.
    if (news && wasHalted) m_iCount = 0;
    if (m_state.m_detect.m_bHeadFound) {
        const HeadRect head = m_state.m_detect.m_rcHead.Load();
        m_iHeadCentreX = head.left + (head.right - head.left) / 2;
        m_iHeadCentreY = head.top + (head.bottom - head.top) / 2;
        m_bAddPoint = true;
        // The first face after none: the points that stayed behind on the wall or on what covered
        // the face would hold the count of points and outvote the face's motion.
        if (news && detectCount == 1) KeepPointsNear(head);
    }

    const int write = m_state.m_iDisplayWrite;
    if (m_iCount >= 1) TrackPoints(m_displays[write]);
    m_state.m_display.Store(m_displays[write]);
    m_state.m_iDisplayWrite = 1 - write;
    m_state.m_iPointCount = m_iCount;

    SeedPoint();
    RenewFirstSlot();
    Exchange();
    return true;
}

bool CFeatureTracker::IsStale(int detectCount) {
    if (detectCount != m_iLastDetectCount) {
        m_iLastDetectCount = detectCount;
        m_iStaleFrames = 0;
        return false;
    }
    // Counts no further than the limit, so a long halt cannot overflow the counter.
    if (m_iStaleFrames <= kStaleFrameLimit) ++m_iStaleFrames;
    return m_iStaleFrames > kStaleFrameLimit;
}

void CFeatureTracker::KeepPointsNear(const HeadRect& head) {
    // The head has moved on a little since the detection's frame was taken.
    const float marginX = kHeadMargin * static_cast<float>(head.right - head.left);
    const float marginY = kHeadMargin * static_cast<float>(head.bottom - head.top);
    int kept = 0;
    for (int i = 0; i < m_iCount; ++i) {
        const cv::Point2f point = m_pPrevPoints[i];
        if (point.x >= static_cast<float>(head.left) - marginX && point.x <= static_cast<float>(head.right) + marginX &&
            point.y >= static_cast<float>(head.top) - marginY && point.y <= static_cast<float>(head.bottom) + marginY)
            m_pPrevPoints[kept++] = point;
    }
    m_iCount = kept;
}

void CFeatureTracker::CreateImages(cv::Size size) {
    m_frameSize = size;
    const cv::Size bordered(size.width + 2 * kPyramidBorder, size.height + 2 * kPyramidBorder);
    const cv::Rect inside(kPyramidBorder, kPyramidBorder, size.width, size.height);
    m_grey = cv::Mat(bordered, CV_8UC1)(inside);
    m_prevGrey = cv::Mat::zeros(bordered, CV_8UC1)(inside);
    // As the builder's reflect-101 border places them, tiny frames included.
    const auto from = [](int p, int length) { return cv::borderInterpolate(p, length, cv::BORDER_REFLECT_101); };
    for (int i = 0; i < kPyramidBorder; ++i) {
        m_borderColumnFrom[i] = from(i - kPyramidBorder, size.width);
        m_borderColumnFrom[kPyramidBorder + i] = from(size.width + i, size.width);
        m_borderRowFrom[i] = from(i - kPyramidBorder, size.height);
        m_borderRowFrom[kPyramidBorder + i] = from(size.height + i, size.height);
    }
    m_bPyramidBuilt = m_bPrevPyramidBuilt = false;
    m_fHeadX = 0.5f * static_cast<float>(size.width);
    m_fHeadY = 0.5f * static_cast<float>(size.height);
}

void CFeatureTracker::TrackPoints(PointDisplay& display) {
    // Images only: the flow reads derivatives of the previous frame alone, and only near the points.
    if (!m_bPrevPyramidBuilt) BuildPyramid(m_prevGrey, m_prevPyramid);
    BuildPyramid(m_grey, m_pyramid);
    m_bPyramidBuilt = true;
    PrepareDerivatives();

    cv::Mat previous(m_iCount, 1, CV_32FC2, m_pPrevPoints);
    cv::Mat current(m_iCount, 1, CV_32FC2, m_pCurPoints);
    cv::Mat status(m_iCount, 1, CV_8UC1, m_status.data());
    cv::calcOpticalFlowPyrLK(m_prevWithDeriv, m_pyramid, previous, current, status, cv::noArray(), kFlowWindow,
                             kPyramidLevels, kCriteria, 0);

    display.count = 0;
    const bool liveView = m_state.m_bLiveView;
    const bool summing = m_iFlowFrames == kFlowFramesBeforeMotion;
    float sumX = 0.0f;
    float sumY = 0.0f;
    int summed = 0;
    int kept = 0;
    for (int i = 0; i < m_iCount; ++i) {
        const cv::Point2f point = m_pCurPoints[i];
        if (m_bAddPoint) {
            const float dx = static_cast<float>(m_iHeadCentreX) - point.x;
            const float dy = static_cast<float>(m_iHeadCentreY) - point.y;
            if (dx * dx + dy * dy <= kMergeDistanceSquared) {
                // The centre is already covered: drop this point; a fresh one comes next frame.
                m_bAddPoint = false;
                continue;
            }
        }
        if (!m_status[i]) continue;
        m_pCurPoints[kept++] = point;
        if (!summing) continue;
        sumX += point.x - m_pPrevPoints[i].x;
        sumY += point.y - m_pPrevPoints[i].y;
        ++summed;
        if (liveView && display.count < PointDisplay::kCapacity)
            display.points[display.count++] = {cvRound(point.x), cvRound(point.y)};
    }
    m_iFlowFrames = std::min(m_iFlowFrames + 1, kFlowFramesBeforeMotion);
    m_iCount = kept;

    const int sizeMultiplier = m_frameSize.width <= kSizeMultiplierWidth ? 2 : 1;
    if (m_targets.headSwitch) m_targets.headSwitch->OnMotion(summed, sumX, sumY, m_frameSize.width);
    if (m_bUseProfile) {
        if (m_pObserver) m_pObserver->MapMotionProfile(summed, sumX, sumY, sizeMultiplier);
        MapMotionProfile(summed, sumX, sumY, sizeMultiplier);
    } else {
        if (m_pObserver) m_pObserver->MapMotion(summed, sumX, sumY, sizeMultiplier);
        MapMotion(summed, sumX, sumY, sizeMultiplier);
    }
    display.headX = cvRound(m_fHeadX);
    display.headY = cvRound(m_fHeadY);
}

// The builder takes a grey image with room for its border around it as level 0 without a copy,
// and leaves that border alone: it is filled here first, as the builder's own copy would fill it.
// Levels 1 and up stay in the pyramid's buffers from frame to frame.
void CFeatureTracker::BuildPyramid(const cv::Mat& grey, std::vector<cv::Mat>& pyramid) {
    ReflectBorder(grey);
    cv::buildOpticalFlowPyramid(grey, pyramid, kFlowWindow, kPyramidLevels, false, cv::BORDER_REFLECT_101,
                                cv::BORDER_CONSTANT, true);
}

// Only the border pixels are written: both sides of every row, then the rows above and below
// whole, from rows whose sides are already filled.
void CFeatureTracker::ReflectBorder(const cv::Mat& grey) {
    const int width = grey.cols;
    const auto step = static_cast<std::ptrdiff_t>(grey.step);
    // The image's header is const, its pixels (in a buffer of ours) are not.
    uchar* const origin = grey.data;
    for (int y = 0; y < grey.rows; ++y) {
        uchar* row = origin + y * step;
        for (int i = 0; i < kPyramidBorder; ++i) {
            row[i - kPyramidBorder] = row[m_borderColumnFrom[i]];
            row[width + i] = row[m_borderColumnFrom[kPyramidBorder + i]];
        }
    }
    const std::size_t rowBytes = static_cast<std::size_t>(width + 2 * kPyramidBorder);
    const auto wholeRow = [&](int y) { return origin + y * step - kPyramidBorder; };
    for (int i = 0; i < kPyramidBorder; ++i) {
        std::memcpy(wholeRow(i - kPyramidBorder), wholeRow(m_borderRowFrom[i]), rowBytes);
        std::memcpy(wholeRow(grey.rows + i), wholeRow(m_borderRowFrom[kPyramidBorder + i]), rowBytes);
    }
}

void CFeatureTracker::SeedPoint() {
    const int limit = m_bAllowMorePoints.exchange(false) ? kPointLimitGranted : kPointLimit;
    if (!m_bAddPoint || m_iCount >= limit) return;  // a pending point waits for the next frame
    cv::Point2f& seed = m_pCurPoints[m_iCount];
    seed = {static_cast<float>(m_iHeadCentreX), static_cast<float>(m_iHeadCentreY)};
    cv::Mat one(1, 1, CV_32FC2, &seed);
    cv::cornerSubPix(m_grey, one, kRefineWindow, cv::Size(-1, -1), kCriteria);
    ++m_iCount;
    m_bAddPoint = false;
}

void CFeatureTracker::RenewFirstSlot() {
    if (!m_state.m_detect.m_bHeadFound || m_iCount <= kPointLimit) return;
    m_pCurPoints[0] = m_pCurPoints[m_iCount - 1];
    --m_iCount;
}

void CFeatureTracker::Exchange() {
    std::swap(m_grey, m_prevGrey);
    std::swap(m_pyramid, m_prevPyramid);
    std::swap(m_pPrevPoints, m_pCurPoints);
    m_bPrevPyramidBuilt = m_bPyramidBuilt;
    m_bPyramidBuilt = false;
}

// The previous frame's Scharr derivatives, as the pyramid builder would make them, but only in
// the box around the points that the flow reads at each level (the rest is never looked at).
// The derivative border stays zero, as the builder's constant border would make it.
void CFeatureTracker::PrepareDerivatives() {
    constexpr int kMargin = 4;  // beyond the flow's window and its interpolation pixel
    const int border = kFlowWindow.width;
    const int levels = static_cast<int>(m_prevPyramid.size());
    m_derivBuffers.resize(levels);
    m_prevWithDeriv.resize(2 * levels);
    for (int level = 0; level < levels; ++level) {
        const cv::Mat& image = m_prevPyramid[level];  // bordered (reflect 101)
        cv::Mat& whole = m_derivBuffers[level];
        if (whole.rows != image.rows + 2 * border || whole.cols != image.cols + 2 * border) {
            whole.create(image.rows + 2 * border, image.cols + 2 * border, CV_16SC2);
            whole.setTo(cv::Scalar::all(0));
        }
        cv::Mat deriv = whole(cv::Rect(border, border, image.cols, image.rows));
        m_prevWithDeriv[2 * level] = image;
        m_prevWithDeriv[2 * level + 1] = deriv;

        const float scale = 1.0f / static_cast<float>(1 << level);
        cv::Rect box;
        for (int i = 0; i < m_iCount; ++i) {
            const int x = cvFloor(m_pPrevPoints[i].x * scale) - kWindowSize - kMargin;
            const int y = cvFloor(m_pPrevPoints[i].y * scale) - kWindowSize - kMargin;
            box |= cv::Rect(x, y, kFlowWindow.width + 1 + 2 * kMargin, kFlowWindow.height + 1 + 2 * kMargin);
        }
        box &= cv::Rect(0, 0, image.cols, image.rows);
        const std::size_t step = image.step;
        for (int y = box.y; y < box.y + box.height; ++y) {
            const uchar* r1 = image.ptr<uchar>(y);
            const uchar* r0 = r1 - step;  // rows -1 and rows of the border come from the
            const uchar* r2 = r1 + step;  // reflected border
            short* d = deriv.ptr<short>(y);
            for (int x = box.x; x < box.x + box.width; ++x) {
                const int left = (r0[x - 1] + r2[x - 1]) * 3 + r1[x - 1] * 10;
                const int right = (r0[x + 1] + r2[x + 1]) * 3 + r1[x + 1] * 10;
                d[2 * x] = static_cast<short>(right - left);
                d[2 * x + 1] =
                    static_cast<short>((r2[x - 1] - r0[x - 1] + r2[x + 1] - r0[x + 1]) * 3 + (r2[x] - r0[x]) * 10);
            }
        }
    }
}
