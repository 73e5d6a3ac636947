// Control ids and the tooltip texts keyed by them. Every tooltip text of the program lives in
// tooltip_strings.cpp; pages look texts up by the id they gave each control.
#pragma once

#include <optional>

#include <QString>

class QWidget;

// Gives a control the integer id that keys its tooltip (and identifies it in notifications).
void SetControlId(QWidget* control, int id);
// The id given by SetControlId, or 0 when the control has none.
int ControlId(const QWidget* control);

// The tooltip text for a control id, or nothing when the table has no entry for it.
std::optional<QString> TooltipString(int id);

// The table entry that, upper-cased, asks a list box to show the item under the mouse.
inline constexpr const char* kTooltipExpand = "TOOLTIPEXPAND";
