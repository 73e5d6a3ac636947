// A decorated static text: colours, font, plain or gradient background, 3D or rotated text,
// flashing, and hyperlink or mail link. The About box uses it for its link line.
//
//   auto* link = new CLabel(tr("www.example.org"), about);
//   link->SetTextColor(Qt::blue).SetFontUnderline(true).SetLink(true, false)
//        .SetLinkCursor(Qt::PointingHandCursor);
//
// Every setter returns the label so calls chain. Setters that change the look repaint.
#pragma once

#include <functional>
#include <optional>

#include <QColor>
#include <QCursor>
#include <QFont>
#include <QFrame>
#include <QString>
#include <QTimer>
#include <QUrl>

class CLabel : public QFrame {
    Q_OBJECT
public:
    enum class BackFillMode { Normal, Gradient };
    enum class LinkType { None, HyperLink, MailLink };
    enum class FlashType { None, Text, Background };
    enum class Type3D { Raised, Sunken };

    // Opens a link target; QDesktopServices::openUrl unless replaced.
    using UrlOpener = std::function<bool(const QUrl&)>;

    static constexpr int kFlashIntervalMs = 500;

    explicit CLabel(QWidget* parent = nullptr);
    explicit CLabel(const QString& text, QWidget* parent = nullptr);

    // A Normal fill paints crBkgnd; a Gradient fill steps from crBkgnd to crBkgndHigh left to right.
    CLabel& SetBkColor(const QColor& crBkgnd, const QColor& crBkgndHigh = QColor(),
                       BackFillMode mode = BackFillMode::Normal);
    CLabel& SetTextColor(const QColor& crText);
    CLabel& SetText(const QString& text);
    CLabel& SetFontBold(bool bold);
    CLabel& SetFontName(const QString& family);
    CLabel& SetFontUnderline(bool underline);
    CLabel& SetFontItalic(bool italic);
    CLabel& SetFontSize(int points);
    CLabel& SetSunken(bool sunken);
    CLabel& SetBorder(bool border);
    // A transparent label paints no background: the parent shows through.
    CLabel& SetTransparent(bool transparent);
    // Starting either kind of flashing replaces the other; stopping either ends flashing.
    CLabel& FlashText(bool activate);
    CLabel& FlashBackground(bool activate);
    // With notifyParent a click emits linkClicked instead of opening the link.
    CLabel& SetLink(bool link, bool notifyParent);
    CLabel& SetLinkCursor(const QCursor& cursor);
    CLabel& SetText3D(bool set3D, Type3D type = Type3D::Raised);
    // Degrees counter-clockwise; the text turns about the centre of the label.
    CLabel& SetRotationAngle(int angle, bool rotation);
    CLabel& SetText3DHiliteColor(const QColor& cr3DHiliteColor);
    CLabel& SetFont(const QFont& font);
    CLabel& SetMailLink(bool enable, bool notifyParent);
    // The hyperlink's target; empty means the label's own text.
    CLabel& SetLinkUrl(const QString& link);

    // How the text is laid out: left, Qt::AlignHCenter or Qt::AlignRight, word-wrapped from the
    // top; Qt::AlignVCenter centres it both ways and keeps a text without line breaks on one line.
    CLabel& SetAlignment(Qt::Alignment alignment);
    CLabel& SetUrlOpener(UrlOpener opener);

    QString Text() const { return m_text; }
    QFont LabelFont() const { return m_font; }
    QColor TextColor() const { return m_crText; }
    LinkType Link() const { return m_link; }
    QString LinkUrl() const { return m_linkUrl; }
    FlashType Flash() const { return m_flash; }
    // True in the flash phase that hides the text or the background.
    bool FlashPhase() const { return m_bFlashPhase; }
    bool IsFlashing() const { return m_flashTimer.isActive(); }

    QSize sizeHint() const override;

signals:
    // A click on a link label that notifies its parent; carries the label's control id.
    void linkClicked(int controlId);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void ApplyFont();
    void ApplyFrame();
    void StopFlashing();
    void OnFlashTimer();
    void PaintBackground(QPainter& painter, const QRect& area) const;
    void PaintText(QPainter& painter, const QRect& area) const;
    void DrawTextAt(QPainter& painter, const QRect& area, int flags, const QColor& colour, const QPoint& offset) const;

    QString m_text;
    Qt::Alignment m_alignment = Qt::AlignLeft | Qt::AlignTop;
    QColor m_crText;
    QColor m_cr3DHiliteColor = QColor(0xFF, 0xFF, 0xFF);
    QColor m_crBkgnd;
    QColor m_crBkgndHigh;
    BackFillMode m_fillMode = BackFillMode::Normal;
    std::optional<QColor> m_customBrush;
    QFont m_font;
    LinkType m_link = LinkType::None;
    bool m_bNotifyParent = false;
    QString m_linkUrl;
    FlashType m_flash = FlashType::None;
    bool m_bFlashPhase = false;
    QTimer m_flashTimer;
    bool m_bTransparent = false;
    bool m_bSunken = false;
    bool m_bBorder = false;
    bool m_b3DText = false;
    Type3D m_3dType = Type3D::Raised;
    bool m_bRotation = false;
    int m_rotationAngle = 0;
    UrlOpener m_urlOpener;
};
