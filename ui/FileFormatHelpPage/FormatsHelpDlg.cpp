#include "ui/FileFormatHelpPage/FormatsHelpDlg.h"

#include <QApplication>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPixmap>
#include <QUrl>
#include <QVBoxLayout>

namespace Branwick::Wnd {

namespace {

constexpr int kImageSize = 48;
constexpr wchar_t kNotFound[] = L"Information about this file format is not found.";

QString Q(const std::wstring& text) {
    return QString::fromStdWString(text);
}

// The record's texts end in a paragraph break for the list; the cells show them without it.
QString Trimmed(const std::wstring& text) {
    return Q(text).trimmed();
}

// Opens only web addresses: a link from a service is never handed to the desktop as a file or
// a command.
void OpenLink(const QString& strLink) {
    const QUrl url(strLink);
    if (url.scheme() == "http" || url.scheme() == "https") {
        QDesktopServices::openUrl(url);
    }
}

}  // namespace

CFormatsHelpDlg::CFormatsHelpDlg(SPageSite& site, QWidget* pParent)
    : QWidget(pParent), m_site(site) {
    m_pEdit = new QLineEdit(this);
    m_pEdit->setObjectName("extension");
    m_pEdit->setPlaceholderText("Enter the File Format You wish to learn more, for example DOC");
    m_pSearch = new QPushButton(tr("Search"), this);
    m_pSearch->setObjectName("search");
    m_pResults = new QTableWidget(0, 3, this);
    m_pResults->setHorizontalHeaderLabels({"File Type", "File Description", "Applications"});
    m_pResults->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_pResults->verticalHeader()->hide();
    m_pResults->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pResults->setWordWrap(true);
    m_pResults->setIconSize(QSize(kImageSize, kImageSize));

    auto* pSearchRow = new QHBoxLayout;
    pSearchRow->addWidget(m_pEdit, 1);
    pSearchRow->addWidget(m_pSearch);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pSearchRow);
    pLayout->addWidget(m_pResults, 1);

    connect(m_pSearch, &QPushButton::clicked, this, &CFormatsHelpDlg::Search);
    connect(m_pEdit, &QLineEdit::returnPressed, this, &CFormatsHelpDlg::Search);
}

CFormatsHelpDlg::~CFormatsHelpDlg() {
    // The worker's last act is to post its records to this page: it must end while the page
    // can still take them (the post is then dropped with the page's events).
    m_pLookup.reset();
    EndWaiting();
}

void CFormatsHelpDlg::EndWaiting() {
    if (m_bWaiting) {
        QApplication::restoreOverrideCursor();
        m_bWaiting = false;
    }
    m_pSearch->setEnabled(true);
}

CFileFormatLookup* CFormatsHelpDlg::Lookup() {
    const std::wstring strSetting = m_site.m_settings.GetFormatService();
    if (!m_pLookup || strSetting != m_strServiceSetting) {
        m_pLookup.reset();
        m_strServiceSetting = strSetting;
        m_pEndpoint = std::make_unique<CFormatServiceEndpoint>(strSetting);
        m_pLookup = std::make_unique<CFileFormatLookup>(m_pEndpoint->Url());
    }
    return m_pLookup.get();
}

void CFormatsHelpDlg::Search() {
    if (m_pLookup && m_pLookup->IsRunning()) {
        return;
    }
    m_pResults->setRowCount(0);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_bWaiting = true;
    m_pSearch->setEnabled(false);
    CFileFormatLookup* pLookup = nullptr;
    try {
        pLookup = Lookup();
    } catch (const std::exception& e) {
        m_pLookup.reset();
        EndWaiting();
        m_site.m_messageBox.Show(L"The file format service could not be started: " +
                                     QString::fromUtf8(e.what()).toStdWString(),
                                 L"Corvane", MB_OK);
        return;
    }
    pLookup->Start(m_pEdit->text().toStdWString(), [this](std::vector<CFormatInfo> vRecords) {
        QMetaObject::invokeMethod(
            this, [this, vRecords = std::move(vRecords)] { ShowRecords(vRecords); },
            Qt::QueuedConnection);
    });
}

void CFormatsHelpDlg::ShowRecords(const std::vector<CFormatInfo>& vRecords) {
    EndWaiting();
    m_pResults->setRowCount(static_cast<int>(vRecords.size()));
    for (std::size_t i = 0; i < vRecords.size(); ++i) {
        FillRow(static_cast<int>(i), vRecords[i]);
    }
    m_pResults->resizeRowsToContents();
    if (vRecords.empty()) {
        m_site.m_messageBox.Show(kNotFound, L"Corvane", MB_OK);
    }
}

void CFormatsHelpDlg::FillRow(int nRow, const CFormatInfo& info) {
    auto* pType = new QTableWidgetItem(
        QString("File type: %1\nDeveloper: %2").arg(Q(info.m_strFileType), Trimmed(info.m_strDeveloper)));
    QPixmap picture;
    if (picture.loadFromData(reinterpret_cast<const uchar*>(info.m_image.data()),
                             static_cast<uint>(info.m_image.size()), "PNG")) {
        pType->setIcon(QIcon(picture.scaled(kImageSize, kImageSize, Qt::KeepAspectRatio,
                                            Qt::SmoothTransformation)));
    }
    m_pResults->setItem(nRow, 0, pType);
    m_pResults->setItem(nRow, 1, new QTableWidgetItem(Trimmed(info.m_strDescription)));

    QStringList lines;
    for (const auto& [strName, strLink] : info.m_vApplications) {
        const QString strShown = Q(strName).toHtmlEscaped();
        lines << (strLink.empty() ? strShown
                                  : QString("<a href=\"%1\">%2</a>")
                                        .arg(Q(strLink).toHtmlEscaped(), strShown));
    }
    auto* pApplications = new QLabel(lines.join("<br>"), m_pResults);
    pApplications->setObjectName("applications");
    pApplications->setTextFormat(Qt::RichText);
    pApplications->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(pApplications, &QLabel::linkActivated, this, &OpenLink);
    m_pResults->setCellWidget(nRow, 2, pApplications);
}

}  // namespace Branwick::Wnd
