#include "ui/TargetChooser/TargetChooser.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QVBoxLayout>

namespace Branwick::Wnd {

QString SizeText(std::uint64_t nBytes) {
    return QLocale::system().formattedDataSize(static_cast<qint64>(nBytes), 1, QLocale::DataSizeSIFormat);
}

CTargetChooser::CTargetChooser(const QString& strWhy, Platform::SDiscoveryRoots roots, QWidget* pParent)
    : QDialog(pParent) {
    setWindowTitle(tr("Choose a Windows system - Corvane"));
    auto* pLayout = new QVBoxLayout(this);
    if (!strWhy.isEmpty()) {
        auto* pWhy = new QLabel(strWhy, this);
        pWhy->setWordWrap(true);
        pLayout->addWidget(pWhy);
    }
    m_pState = new QLabel(tr("Looking for Wine prefixes and Windows volumes..."), this);
    pLayout->addWidget(m_pState);
    m_pList = new QTreeWidget(this);
    m_pList->setRootIsDecorated(false);
    m_pList->setHeaderLabels({tr("Name"), tr("Kind"), tr("Found by"), tr("Architecture"), tr("Size"),
                              tr("Wineserver"), tr("Path")});
    m_pList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_pList->header()->setStretchLastSection(true);
    pLayout->addWidget(m_pList, 1);
    auto* pUserRow = new QHBoxLayout;
    m_pUserLabel = new QLabel(tr("User of the volume:"), this);
    m_pUsers = new QComboBox(this);
    pUserRow->addWidget(m_pUserLabel);
    pUserRow->addWidget(m_pUsers, 1);
    pLayout->addLayout(pUserRow);
    auto* pButtons = new QDialogButtonBox(this);
    m_pOpen = pButtons->addButton(tr("Open"), QDialogButtonBox::AcceptRole);
    QPushButton* pBrowse = pButtons->addButton(tr("Browse Folder..."), QDialogButtonBox::ActionRole);
    pButtons->addButton(QDialogButtonBox::Cancel);
    pLayout->addWidget(pButtons);
    connect(m_pOpen, &QPushButton::clicked, this, &CTargetChooser::Accept);
    connect(pBrowse, &QPushButton::clicked, this, &CTargetChooser::Browse);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_pList, &QTreeWidget::itemSelectionChanged, this, &CTargetChooser::SelectionChanged);
    connect(m_pList, &QTreeWidget::itemDoubleClicked, this, &CTargetChooser::Accept);
    SelectionChanged();
    resize(860, 420);

    // Sizes walk whole prefixes: the dialog stays responsive meanwhile.
    auto pFound = std::make_shared<std::vector<Platform::SFoundTarget>>();
    m_pThread = QThread::create([pFound, roots = std::move(roots)] { *pFound = Platform::DiscoverTargets(roots); });
    connect(m_pThread, &QThread::finished, this, [this, pFound] { Fill(*pFound); });
    m_pThread->start();
}

CTargetChooser::~CTargetChooser() {
    m_pThread->wait();
    delete m_pThread;
}

void CTargetChooser::Fill(const std::vector<Platform::SFoundTarget>& vcFound) {
    m_vcFound = vcFound;
    m_pState->setText(vcFound.empty() ? tr("No Wine prefix or Windows volume was found. Browse for its folder.")
                                      : tr("Found %1 Windows system(s):").arg(vcFound.size()));
    for (const Platform::SFoundTarget& found : vcFound) {
        const bool bVolume = found.eKind == Platform::EFoundKind::WindowsVolume;
        auto* pItem = new QTreeWidgetItem(m_pList);
        pItem->setText(0, QString::fromStdString(found.strName));
        pItem->setText(1, Platform::FoundKindName(found.eKind));
        pItem->setText(2, QString::fromStdString(found.strSource));
        pItem->setText(3, found.b64Bit ? tr("64-bit") : tr("32-bit"));
        pItem->setText(4, SizeText(found.nBytes));
        pItem->setText(5, bVolume ? QString() : found.bServerRunning ? tr("running") : tr("not running"));
        pItem->setText(6, QString::fromStdString(found.strFolder));
        pItem->setToolTip(6, QString::fromStdString(found.strFolder));
    }
    if (m_pList->topLevelItemCount() > 0) {
        m_pList->setCurrentItem(m_pList->topLevelItem(0));
    }
    emit Found();
}

void CTargetChooser::SelectionChanged() {
    const int nRow = m_pList->currentItem() != nullptr ? m_pList->indexOfTopLevelItem(m_pList->currentItem()) : -1;
    m_pUsers->clear();
    const bool bVolume = nRow >= 0 && m_vcFound[static_cast<std::size_t>(nRow)].eKind == Platform::EFoundKind::WindowsVolume;
    if (bVolume) {
        for (const std::string& strUser : m_vcFound[static_cast<std::size_t>(nRow)].vcUsers) {
            m_pUsers->addItem(QString::fromStdString(strUser));
        }
    }
    m_pUserLabel->setHidden(!bVolume);
    m_pUsers->setHidden(!bVolume);
    m_pOpen->setEnabled(nRow >= 0 && (!bVolume || m_pUsers->count() > 0));
}

void CTargetChooser::Accept() {
    const int nRow = m_pList->currentItem() != nullptr ? m_pList->indexOfTopLevelItem(m_pList->currentItem()) : -1;
    if (nRow < 0 || !m_pOpen->isEnabled()) {
        return;
    }
    const Platform::SFoundTarget& found = m_vcFound[static_cast<std::size_t>(nRow)];
    m_chosen.strFolder = found.strFolder;
    m_chosen.strUser = found.eKind == Platform::EFoundKind::WindowsVolume ? m_pUsers->currentText().toStdString()
                                                                          : std::string();
    accept();
}

void CTargetChooser::Browse() {
    const QString strFolder = QFileDialog::getExistingDirectory(this, tr("The folder of a Wine prefix or a Windows volume"));
    if (strFolder.isEmpty()) {
        return;
    }
    m_chosen.strFolder = strFolder.toStdString();
    m_chosen.strUser.clear();
    accept();
}

}  // namespace Branwick::Wnd
