// A picture button that shows another picture while the mouse is over it; the floating window,
// the flight page and the mouse settings page use it.
//
//   auto* pause = new CHoverButton(window);
//   pause->LoadBitmaps(normal, hover, active, paused);  // the fourth picture is optional
//   pause->SetAlternative(true);                        // shows `paused` until hovered
//
// The owning dialog gives it a tooltip with QWidget::setToolTip, as with any control. Disabled, it
// shows its picture faded and takes no hover.
#pragma once

#include <QAbstractButton>
#include <QPixmap>
#include <QString>

class CHoverButton : public QAbstractButton {
    Q_OBJECT
public:
    enum class Picture { Normal, Hover, Active, Alternative };

    explicit CHoverButton(QWidget* parent = nullptr);

    // Takes the pictures and resizes the button to the normal one, keeping its position.
    // A null alternative means the button has none.
    void LoadBitmaps(const QPixmap& normal, const QPixmap& hover, const QPixmap& active,
                     const QPixmap& alternative = QPixmap());
    // The same from image files or Qt resources (":/..."); an empty alternative path means none.
    // False when one of the named pictures cannot be read; nothing is changed then.
    bool LoadBitmaps(const QString& normal, const QString& hover, const QString& active,
                     const QString& alternative = QString());

    // Each clears the other flag.
    void SetActive(bool active);
    void SetAlternative(bool alternative);

    bool IsActive() const { return m_bActive; }
    bool IsAlternative() const { return m_bAlternative; }
    bool IsHovering() const { return m_bHovering; }

    // The picture the button paints now (faded when disabled).
    Picture CurrentPicture() const;

    // How much of a disabled button's picture shows over the window behind it.
    static constexpr qreal kDisabledOpacity = 0.35;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    const QPixmap& PictureFor(Picture picture) const;

    QPixmap m_normal;
    QPixmap m_hover;
    QPixmap m_active;
    QPixmap m_alternative;
    int m_width = 0;
    int m_height = 0;
    bool m_bHovering = false;
    bool m_bActive = false;
    bool m_bAlternative = false;
};
