// The settings page of the file format service: the address of a shared service, or nothing for
// the service the program runs itself on this computer.
#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include "ui/Pages/PageSite.h"

namespace Branwick::Wnd {

class CFormatServicePage : public QWidget {
    Q_OBJECT
public:
    CFormatServicePage(SPageSite& site, QWidget* pParent = nullptr);

    QLineEdit* Address() const { return m_pAddress; }
    // Saves the address when it is one (or empty); otherwise says why and shows the saved one.
    void Apply();

private:
    SPageSite& m_site;
    QLineEdit* m_pAddress;
};

}  // namespace Branwick::Wnd
