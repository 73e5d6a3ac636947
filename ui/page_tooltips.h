// The base of every page of the settings window: gives each control of the page the tooltip that
// the string table holds for its control id, and the page's life in the window: initialised on
// its first activation, told of every activation, and hidden again by OK.
//
//   class CMousePage : public CMyPropertyPageToolTips {
//       CMousePage() { ...create controls, SetControlId(slider, 1006)...; }
//       void OnInitDialog() override { ...read the settings...; SetToolTipsEnabled(true);
//                                      CMyPropertyPageToolTips::OnInitDialog(); }
//       void OnOK() override { ...; CMyPropertyPageToolTips::OnOK(); }
//   };
//
// A list box whose table entry reads "TOOLTIPEXPAND" (any case) shows the text of the item under
// the mouse instead of a fixed text.
#pragma once

#include <functional>
#include <initializer_list>
#include <map>
#include <optional>

#include <QPersistentModelIndex>
#include <QPointer>
#include <QString>
#include <QWidget>

class QAbstractButton;

class CMyPropertyPageToolTips : public QWidget {
    Q_OBJECT
public:
    // Where tooltip texts come from; the program's string table unless a test gives another.
    using TooltipLookup = std::function<std::optional<QString>(int id)>;

    explicit CMyPropertyPageToolTips(QWidget* parent = nullptr, TooltipLookup lookup = {});
    ~CMyPropertyPageToolTips() override;

    // Set by the derived page before InitToolTips; later calls turn tooltips on or off at once.
    void SetToolTipsEnabled(bool enabled);
    bool ToolTipsEnabled() const { return m_bToolTipsEnabled; }

    // Adds a tool for every control of the page, in creation order, whose id has a table entry.
    // Call once the page's controls exist; calling again picks up controls added since.
    void InitToolTips();

    // The text registered for a control of the page (no list-box expansion), or empty.
    QString ToolText(const QWidget* control) const;

    // The tooltip shown for the mouse at pos (in `widget`'s coordinates) over `widget` or a
    // widget inside it: the tool of the nearest registered ancestor, with the list-box
    // expansion applied. Nothing when tooltips are disabled or no tool applies.
    std::optional<QString> ToolTipAt(QWidget* widget, const QPoint& pos);

    // Runs the activation the settings window asks for: OnInitDialog the first time, then
    // OnSetActive every time. Works while the window is hidden.
    void Activate();
    bool IsInitialised() const { return m_bInitialised; }

    // Once, on the first activation; the default adds the tooltips. Overrides read their
    // settings first and then call this.
    virtual void OnInitDialog();
    // On every activation, after OnInitDialog the first time.
    virtual void OnSetActive();
    // When another page becomes current.
    virtual void OnKillActive();
    // The window's OK button while this page is current: asks the window holding the page to
    // hide. Overrides store what they must first and then call this.
    virtual void OnOK();
    // Once, when the program ends: lets go of what the page holds for the whole desktop (a grab),
    // so that a new copy can take it. The default holds nothing.
    virtual void OnProgramClosed() {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Tab walks the given controls in this order (the order they appear on the page).
    static void SetTabOrder(std::initializer_list<QWidget*> controls);
    // Sets a check box as the program does when it loads or resets a value: pages listen to
    // `toggled` (which the accessibility bus's toggle sends too), and this sends none of it.
    static void SetCheckQuietly(QAbstractButton* box, bool checked);

private:
    QWidget* ToolOwner(QWidget* widget) const;

    TooltipLookup m_lookup;
    bool m_bInitialised = false;
    bool m_bToolTipsEnabled = false;
    std::map<const QWidget*, QString> m_tools;
    // The list item whose text the tooltip shows, so an unchanged item is not shown again.
    QPointer<QWidget> m_expandedList;
    QPersistentModelIndex m_expandedItem;
};
