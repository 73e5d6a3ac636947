#include "ui/slider_row.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include "base/settings_store.h"
#include "ui/tooltip_strings.h"

namespace {

QToolButton* MakeArrow(Qt::ArrowType arrow, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setArrowType(arrow);
    button->setAutoRepeat(true);
    // The slider takes the same steps from the arrow keys; one Tab stop per row is enough.
    button->setFocusPolicy(Qt::NoFocus);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    return button;
}

}  // namespace

CUpDown::CUpDown(QWidget* parent)
    : QWidget(parent), m_pUp(MakeArrow(Qt::UpArrow, this)), m_pDown(MakeArrow(Qt::DownArrow, this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_pUp);
    layout->addWidget(m_pDown);
    connect(m_pUp, &QToolButton::clicked, this, [this] { Step(+1); });
    connect(m_pDown, &QToolButton::clicked, this, [this] { Step(-1); });
}

void CUpDown::SetAccessibleNames(const QString& setting) {
    m_pUp->setAccessibleName(tr("%1: one step more").arg(setting));
    m_pDown->setAccessibleName(tr("%1: one step less").arg(setting));
}

void CUpDown::Step(int delta) {
    const int next = m_iPosition + delta;
    if (next < 0 || next > kRange) return;
    m_iPosition = next;
    emit DeltaPos(delta);
}

CSliderRow::CSliderRow(const SliderRowSpec& spec, CSettingsStore& store, CSettingsMirror& mirror, QWidget* page)
    : QObject(page),
      m_spec(spec),
      m_store(store),
      m_mirror(mirror.*spec.mirror),
      m_pCaption(new QLabel(QString::fromUtf8(spec.caption), page)),
      m_pSlider(new QSlider(Qt::Horizontal, page)),
      m_pUpDown(new CUpDown(page)),
      m_pPercent(new QLineEdit(page)) {
    m_pSlider->setRange(spec.key.minValue, spec.key.maxValue);
    m_pSlider->setValue(spec.key.defaultValue);
    m_pSlider->setSingleStep(1);
    m_pSlider->setPageStep(1);
    m_pSlider->setTickPosition(QSlider::TicksBelow);
    SetControlId(m_pSlider, spec.controlId);
    m_pCaption->setBuddy(m_pSlider);
    m_pUpDown->SetAccessibleNames(m_pCaption->text());

    m_pPercent->setReadOnly(true);
    m_pPercent->setFocusPolicy(Qt::NoFocus);  // nothing to edit; the slider carries the value
    m_pPercent->setAlignment(Qt::AlignRight);
    m_pPercent->setAccessibleName(tr("%1 in percent").arg(m_pCaption->text()));
    const QFontMetrics metrics(m_pPercent->font());
    m_pPercent->setFixedWidth(metrics.horizontalAdvance(QStringLiteral("1000%")) + 4 * metrics.averageCharWidth());
    Show(m_pSlider->value());

    connect(m_pSlider, &QSlider::valueChanged, this, [this](int position) {
        Show(position);
        m_store.Write(m_spec.key, position);
    });
    connect(m_pUpDown, &CUpDown::DeltaPos, this, [this](int delta) {
        m_pSlider->setValue(m_pSlider->value() + delta);
        m_pUpDown->Recentre();
    });
}

void CSliderRow::AddTo(QGridLayout* grid, int row) {
    grid->addWidget(m_pCaption, row, 0);
    grid->addWidget(m_pSlider, row, 1);
    grid->addWidget(m_pUpDown, row, 2);
    grid->addWidget(m_pPercent, row, 3);
}

void CSliderRow::Load() {
    const bool stored = m_store.Contains(m_spec.key.section, m_spec.key.key);
    const int position = m_store.ReadClamped(m_spec.key);
    {
        // Loading shows the stored value; only a value that had to be clamped is written back.
        const QSignalBlocker quiet(m_pSlider);
        m_pSlider->setValue(position);
    }
    Show(position);
    if (stored && m_store.Read(m_spec.key) != position) m_store.Write(m_spec.key, position);
}

void CSliderRow::SetPosition(int position) { m_pSlider->setValue(position); }

void CSliderRow::SetDefault() { SetPosition(m_spec.setDefault.value_or(m_spec.key.defaultValue)); }

int CSliderRow::Position() const { return m_pSlider->value(); }

void CSliderRow::SetEnabled(bool enabled) {
    m_pSlider->setEnabled(enabled);
    m_pUpDown->setEnabled(enabled);
    m_pPercent->setEnabled(enabled);
}

void CSliderRow::Show(int position) {
    m_mirror = position;
    m_pUpDown->Recentre();
    m_pPercent->setText(QString::asprintf("%d%%", m_spec.percent(position)));
}
