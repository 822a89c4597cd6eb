#include "core/MessageBox.h"

#include <atomic>
#include <cstdio>

#include "core/Text.h"

namespace Branwick {

namespace {

int DefaultAnswer(UINT uType) {
    switch (uType & MB_TYPEMASK) {
        case MB_OKCANCEL:
            return IDCANCEL;
        case MB_YESNO:
            return IDNO;
        default:
            return IDOK;
    }
}

std::atomic<IMessageBox*> g_pMessageBox{nullptr};

}  // namespace

int CStderrMessageBox::Show(const std::wstring& strText, const std::wstring& strCaption,
                            UINT uType) {
    const std::string line = WideToUtf8(strCaption + L": " + strText) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    return DefaultAnswer(uType);
}

int CRecordingMessageBox::Show(const std::wstring& strText, const std::wstring& strCaption,
                               UINT uType) {
    std::lock_guard lock(m_mutex);
    m_vShown.push_back({strText, strCaption, uType});
    return m_nAnswer != 0 ? m_nAnswer : DefaultAnswer(uType);
}

void CRecordingMessageBox::SetAnswer(int nAnswer) {
    std::lock_guard lock(m_mutex);
    m_nAnswer = nAnswer;
}

std::vector<CRecordingMessageBox::SShown> CRecordingMessageBox::GetShown() const {
    std::lock_guard lock(m_mutex);
    return m_vShown;
}

IMessageBox* SetMessageBox(IMessageBox* pMessageBox) {
    return g_pMessageBox.exchange(pMessageBox);
}

int ShowMessageBox(const std::wstring& strText, const std::wstring& strCaption, UINT uType) {
    if (IMessageBox* pMessageBox = g_pMessageBox.load(); pMessageBox != nullptr) {
        return pMessageBox->Show(strText, strCaption, uType);
    }
    static CStderrMessageBox stderrBox;
    return stderrBox.Show(strText, strCaption, uType);
}

}  // namespace Branwick
