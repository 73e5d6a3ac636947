// The camera page's live view: the camera picture, 320 x 240 at most, with the detected head's
// rectangle (blue) and the tracked head position (green) drawn over it.
//
//   CLiveView view(page);
//   view.PaintLiveView(width, height, frame, marks);  // frame: top-down BGR rows, padded to 4 bytes
//
// The view keeps the frame it was given and paints it in its paint event, straight from those
// bytes: no per-frame conversion.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QWidget>

#include "tracking/detect_mailbox.h"

// Corners in view pixels, as a rectangle is drawn: left, top, right, bottom.
struct ViewRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const ViewRect&) const = default;
};

// What the view draws for one frame of width x height.
struct LiveViewMarks {
    static constexpr int kWidth = 320;
    static constexpr int kHeight = 240;

    // Frames wider than kWidth are stretched into kWidth x kHeight; others are drawn 1 : 1.
    bool stretched = false;
    std::optional<ViewRect> head;  // the head detection square, when found and asked for
    ViewRect position;             // the head position

    // Scales the detected head (frame pixels) and the head position (frame pixels) into the
    // view: the frame size over 320 x 240 where it is larger, each quotient truncated, the head
    // held within 1 .. size - 1 and the position square within 8 .. size - 8 of the frame size.
    static LiveViewMarks Compute(int width, int height, const std::optional<HeadRect>& head, int headX, int headY);
};

class CLiveView : public QWidget {
    Q_OBJECT
public:
    explicit CLiveView(QWidget* parent = nullptr);

    // Takes the frame (swapped with the view's own buffer, so no copy) and repaints.
    void PaintLiveView(int width, int height, std::vector<std::uint8_t>& frame, const LiveViewMarks& marks);

    QSize sizeHint() const override { return {LiveViewMarks::kWidth, LiveViewMarks::kHeight}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<std::uint8_t> m_frame;
    int m_iWidth = 0;
    int m_iHeight = 0;
    LiveViewMarks m_marks;
};
