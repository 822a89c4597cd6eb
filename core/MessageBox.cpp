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

namespace {

// A terminal gets one line per message. The engine's and the settings' reports of a caught
// exception ("Cause: " + the exception's text + "Parameters: ...") go to the log whole; here only
// the cause itself is shown, which the exception's text holds between its location and its code.
std::wstring OneLine(const std::wstring& strText) {
    std::wstring strShown = strText;
    const std::size_t nCause = strText.find(L"\n \n");
    if (strText.rfind(L"Cause: ", 0) == 0 && nCause != std::wstring::npos) {
        const std::size_t nStart = nCause + 3;
        const std::size_t nEnd = strText.find(L"\nError (", nStart);
        strShown = strText.substr(nStart, nEnd == std::wstring::npos ? std::wstring::npos : nEnd - nStart);
    }
    std::wstring strLine;
    for (const wchar_t c : strShown) {
        if (c != L'\n' && c != L'\r') {
            strLine += c;
        } else if (!strLine.empty() && strLine.back() != L' ') {
            strLine += L' ';
        }
    }
    while (!strLine.empty() && strLine.back() == L' ') {
        strLine.pop_back();
    }
    return strLine;
}

}  // namespace

int CStderrMessageBox::Show(const std::wstring& strText, const std::wstring& strCaption,
                            UINT uType) {
    const std::string line = EscapeControls(WideToUtf8(strCaption + L": " + OneLine(strText))) + "\n";
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
