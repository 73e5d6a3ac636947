#include "ui/profile_editor/profile_dialog_link.h"

#include "ui/profile_editor/profile_dialog.h"

void CProfileDialogLink::ShowDialog() {
    if (m_pDialog) m_pDialog->ShowDialog();
}

void CProfileDialogLink::SetFlightChecked(bool checked) {
    m_bFlightChecked = checked;
    if (m_pDialog) m_pDialog->OnFlightChecked(checked);
}
