// The about box: the program's icon, name and version, the system report of this machine and a
// link to the maker's web site. The object is cheap; its contents are made the first time it
// is shown and kept, so every later showing has the report of the first.
//
//   CAboutDlg about(sheet);
//   about.show();  // first time: builds the contents with a fresh system report
#pragma once

#include <QDialog>
#include <QString>

#include "ui/control_ids.h"
#include "ui/label.h"

class QPlainTextEdit;

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    // Control ids, which also key the tooltips.
    static constexpr int kReportId = ControlIds::kAboutInformation;
    static constexpr int kLinkId = 1013;

    explicit CAboutDlg(QWidget* parent = nullptr);

    // How the link opens the web site; QDesktopServices::openUrl unless replaced.
    void SetUrlOpener(CLabel::UrlOpener opener);

    bool HasContents() const { return m_report != nullptr; }
    // The system report shown; empty until the box was first shown.
    QString Report() const;
    // The link line; nullptr until the box was first shown.
    CLabel* Link() const { return m_link; }

    void setVisible(bool visible) override;

private:
    void MakeContents();

    CLabel::UrlOpener m_urlOpener;
    QPlainTextEdit* m_report = nullptr;
    CLabel* m_link = nullptr;
};
