// One setting shown the way every page shows a gain or a smoothing: a slider, up and down arrows
// that step it by one, and a read-only field with the percentage. A row is made from the
// setting's table entry and the rule that turns a position into the percentage shown, so a page
// lists its rows instead of repeating ranges and keys.
//
//   const std::array<SliderRowSpec, 1> kRows{{{Setting::kSliderLrMouse, "Mouse Left and Right movement",
//       ControlIds::kSliderLrMouse, [](int position) { return position * 5; }, &CSettingsMirror::m_nSliderLrMouse}}};
//   std::array<CSliderRow*, 1> rows = MakeSliderRows(kRows, store, mirror, page);
//   rows[0]->AddTo(grid, 0);
//   rows[0]->Load();          // at the page's initialisation: stored value, clamped into the range
//   rows[0]->SetDefault();    // "Set Default"
//
// The mirror follows every change at once (the frame road reads it on the next frame). The
// store is written whenever the position shown differs from the stored one: on every change,
// and at Load when the stored value had to be clamped. A missing key stays missing until the
// user changes the value, since it already reads as what is shown.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <optional>

#include <QObject>
#include <QWidget>

#include "base/settings_keys.h"
#include "base/settings_mirror.h"

class CSettingsStore;
class QGridLayout;
class QLabel;
class QLineEdit;
class QSlider;
class QToolButton;

// The arrows beside a slider. Their position lives in 0..1000 and is put back to 500 after each
// step, so they never reach an end and only ever report one step up or down.
class CUpDown : public QWidget {
    Q_OBJECT
public:
    static constexpr int kCentre = 500;
    static constexpr int kRange = 1000;

    explicit CUpDown(QWidget* parent = nullptr);

    int Position() const { return m_iPosition; }
    void Recentre() { m_iPosition = kCentre; }
    // Names both arrows for screen readers after the setting they step.
    void SetAccessibleNames(const QString& setting);
    QToolButton* UpArrow() const { return m_pUp; }
    QToolButton* DownArrow() const { return m_pDown; }

signals:
    void DeltaPos(int delta);

private:
    void Step(int delta);

    QToolButton* m_pUp;
    QToolButton* m_pDown;
    int m_iPosition = kCentre;
};

// Which of the mirror's values a row drives.
using MirrorValue = std::atomic<int> CSettingsMirror::*;

struct SliderRowSpec {
    SettingKey key;                   // section, key, default and the slider's range
    const char* caption;              // the text before the slider
    int controlId;                    // keys the slider's tooltip
    int (*percent)(int position);     // what the field shows, before "%"
    MirrorValue mirror;               // where the frame road reads the value
    std::optional<int> setDefault{};  // what "Set Default" puts there, if not the key's default
};

class CSliderRow : public QObject {
    Q_OBJECT
public:
    CSliderRow(const SliderRowSpec& spec, CSettingsStore& store, CSettingsMirror& mirror, QWidget* page);

    // Caption, slider, arrows and percentage field in columns 0..3 of one grid row.
    void AddTo(QGridLayout* grid, int row);

    void Load();
    void SetPosition(int position);
    void SetDefault();
    int Position() const;
    // Greys the slider, its arrows and its percentage field.
    void SetEnabled(bool enabled);

    QSlider* Slider() const { return m_pSlider; }
    CUpDown* UpDown() const { return m_pUpDown; }
    QLineEdit* PercentField() const { return m_pPercent; }

private:
    void Show(int position);

    SliderRowSpec m_spec;
    CSettingsStore& m_store;
    std::atomic<int>& m_mirror;
    QLabel* m_pCaption;
    QSlider* m_pSlider;
    CUpDown* m_pUpDown;
    QLineEdit* m_pPercent;
};

// One row per entry, in the table's order.
template <std::size_t N>
std::array<CSliderRow*, N> MakeSliderRows(const std::array<SliderRowSpec, N>& specs, CSettingsStore& store,
                                          CSettingsMirror& mirror, QWidget* page) {
    std::array<CSliderRow*, N> rows{};
    for (std::size_t i = 0; i < N; ++i) rows[i] = new CSliderRow(specs[i], store, mirror, page);
    return rows;
}
