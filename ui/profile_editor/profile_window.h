// The curve of one axis as sixteen columns: the bars' tops are handles the user drags with the
// mouse, or moves with the keyboard, between 20 (strongest) and 220 (weakest) window pixels. The
// columns mirror each other around the middle: a column and its partner always move together.
//
//   CProfileWindow window(applyButton);
//   window.SetRegions(values);     // column order: points "8".."1", then "11".."18"
//   ... the user drags ...
//   window.Modified();             // set when a drag starts, with Apply enabled
//   window.Values();               // what a save stores, in the same column order
#pragma once

#include <array>

#include <QPoint>
#include <QString>
#include <QWidget>

class CProfileWindow;
class QPainter;
class QPushButton;

// One column: a plain drawing object of the curve window, not a widget of its own.
class CProfileRegion {
public:
    static constexpr int kTop = 20;  // strongest
    static constexpr int kNeutral = 120;
    static constexpr int kBottom = 220;  // weakest
    static constexpr int kHandleSlack = 4;

    void Layout(int left, int width, int height, const QString& label, CProfileRegion* partner, CProfileWindow* window);
    // Handle position; values outside 20..220 are shown at 120.
    void SetValue(int value);
    // The handle position including a drag in progress.
    int Value() const { return m_iY + m_iOffset; }

    // One mouse event's effect on this column; true when the mouse is on its handle.
    bool HandleRegionMouse(bool leftButtonDown, int x, int y);
    // Moves the handle by delta (keyboard), clamped, with the partner following.
    void Nudge(int delta);

    // Paints the bar with its level and label; returns the curve point at the top of the bar.
    QPoint DrawRegion(QPainter& painter) const;

    int Left() const { return m_iLeft; }
    int Width() const { return m_iWidth; }
    const QString& Label() const { return m_strLabel; }
    bool Dragging() const { return m_bDragging; }

private:
    void Clamp();
    void PartnerFollows();

    int m_iLeft = 0;
    int m_iWidth = 0;
    int m_iHeight = 0;
    int m_iY = kNeutral;
    int m_iOffset = 0;
    int m_iMouseStart = 0;
    QString m_strLabel;
    CProfileRegion* m_pPartner = nullptr;
    CProfileWindow* m_pWindow = nullptr;
    bool m_bDragging = false;
};

class CProfileWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kColumns = 16;
    using ColumnValues = std::array<int, kColumns>;

    // How far a column is from the middle, 0 for the two beside it: columns 0..7 give 7..0,
    // columns 8..15 give 0..7. Point "n" of a side is the column at n - 1.
    static constexpr int FromMiddle(int column) {
        return column < kColumns / 2 ? kColumns / 2 - 1 - column : column - kColumns / 2;
    }

    explicit CProfileWindow(QPushButton* apply, QWidget* parent = nullptr);

    // Lays the columns out over the present width, puts each handle at its value (120 when
    // outside 20..220), and clears the modified flag.
    void SetRegions(const ColumnValues& values);
    ColumnValues Values() const;

    bool Modified() const { return m_bModified; }
    void SetModified(bool modified) { m_bModified = modified; }
    // A drag began or a key moved a handle: the curve differs from what was applied.
    void OnProfileEdit();

    int SelectedColumn() const { return m_iSelected; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void HandleMouse(bool leftButtonDown, const QPoint& position);
    void LayoutRegions();
    void SelectColumn(int column);
    void DescribeSelection();

    QPushButton* m_pApply;
    std::array<CProfileRegion, kColumns> m_regions;
    bool m_bModified = false;
    int m_iSelected = 0;  // the column the keyboard moves
};
