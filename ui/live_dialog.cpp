#include "ui/live_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/control_ids.h"
#include "ui/tooltip_strings.h"

CmivexDlgLive::CmivexDlgLive(QWidget* parent) : QDialog(parent) {
    m_pPicture = new QLabel(this);
    SetControlId(m_pPicture, ControlIds::kLivePicture);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->hide();
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::hide);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pPicture, 1);
    layout->addWidget(buttons);
}
