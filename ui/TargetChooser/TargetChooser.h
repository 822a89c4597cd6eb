// The target chooser: the Windows systems found on this machine (Wine prefixes of every launcher,
// mounted Windows volumes) with their kind, path, architecture, size and whether a wineserver
// runs for them; the user picks one (and a volume's user) or browses for a folder.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>

#include <memory>
#include <vector>

#include "platform/discovery/discovery.h"

namespace Branwick::Wnd {

struct SChosenTarget {
    std::string strFolder;
    std::string strUser;  // for a volume
};

// "12.3 MB" and the like.
QString SizeText(std::uint64_t nBytes);

class CTargetChooser : public QDialog {
    Q_OBJECT
public:
    // strWhy, when not empty, is shown above the list (why the chooser opened). Looks for the
    // systems of roots on a worker thread; the list fills when it is done.
    CTargetChooser(const QString& strWhy, Platform::SDiscoveryRoots roots, QWidget* pParent = nullptr);
    ~CTargetChooser() override;

    SChosenTarget Chosen() const { return m_chosen; }
    QTreeWidget* List() const { return m_pList; }
    QComboBox* Users() const { return m_pUsers; }
    QPushButton* OpenButton() const { return m_pOpen; }

signals:
    void Found();  // the list is filled

private:
    void Fill(const std::vector<Platform::SFoundTarget>& vcFound);
    void SelectionChanged();
    void Accept();
    void Browse();

    QLabel* m_pState;
    QTreeWidget* m_pList;
    QLabel* m_pUserLabel;
    QComboBox* m_pUsers;
    QPushButton* m_pOpen;
    std::vector<Platform::SFoundTarget> m_vcFound;
    SChosenTarget m_chosen;
    QThread* m_pThread = nullptr;
};

}  // namespace Branwick::Wnd
