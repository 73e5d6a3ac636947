#include "ui/about_dialog.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "base/system_version.h"
#include "base/version_info.h"
#include "ui/app_icon.h"
#include "ui/tooltip_strings.h"

namespace {

constexpr const char* kTitle = "About mivex";
constexpr int kIconSize = 48;
constexpr QSize kMinimumSize(420, 320);

// The report keeps the line ends of the log file; the text box wants plain line feeds.
QString ReportText() {
    return QString::fromStdString(CSystemVersion().m_strSystem).replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent), m_urlOpener([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
    setWindowTitle(QString::fromLatin1(kTitle));
    setWindowIcon(MivexIcon());
}

void CAboutDlg::SetUrlOpener(CLabel::UrlOpener opener) {
    m_urlOpener = std::move(opener);
    if (m_link != nullptr) {
        m_link->SetUrlOpener(m_urlOpener);
    }
}

QString CAboutDlg::Report() const { return m_report == nullptr ? QString() : m_report->toPlainText(); }

void CAboutDlg::setVisible(bool visible) {
    if (visible && !HasContents()) {
        MakeContents();
    }
    QDialog::setVisible(visible);
}

void CAboutDlg::MakeContents() {
    auto* icon = new QLabel(this);
    icon->setPixmap(MivexIcon().pixmap(kIconSize, kIconSize));

    auto* name = new QLabel(QString::fromLatin1(MIVEX_PRODUCT_NAME), this);
    QFont nameFont = name->font();
    nameFont.setBold(true);
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.5);
    name->setFont(nameFont);
    auto* version = new QLabel(tr("Version %1").arg(QString::fromLatin1(MIVEX_PRODUCT_VERSION)), this);

    auto* heading = new QVBoxLayout;
    heading->addWidget(name);
    heading->addWidget(version);
    heading->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addSpacing(8);
    top->addLayout(heading, 1);

    m_report = new QPlainTextEdit(this);
    m_report->setReadOnly(true);
    m_report->setPlainText(ReportText());
    SetControlId(m_report, kReportId);
    m_report->setToolTip(TooltipString(kReportId).value_or(QString()));

    const QString site = QString::fromLatin1(MIVEX_MAKER_SITE);
    m_link = new CLabel(site, this);
    SetControlId(m_link, kLinkId);
    m_link->SetTextColor(Qt::blue)
        .SetFontUnderline(true)
        .SetLink(true, false)
        .SetLinkUrl(site)
        .SetLinkCursor(Qt::PointingHandCursor)
        .SetUrlOpener(m_urlOpener);
    m_link->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);  // only the text is a link

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::hide);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_link, 0, Qt::AlignVCenter);
    bottom->addStretch();
    bottom->addWidget(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_report, 1);
    layout->addLayout(bottom);
    setMinimumSize(kMinimumSize);
    resize(kMinimumSize);
}
