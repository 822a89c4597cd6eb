#include "ui/App/FirstRun.h"

#include "app/ScanManager.h"

namespace Branwick::Wnd {

namespace {

void Log(CMessageSink& log, const std::wstring& strText) { log.Post(std::make_unique<CLogMessage>(strText)); }

}  // namespace

bool TakeFirstRun(const Platform::CTarget& target, CMessageSink& log) {
    const Platform::CRegistry& reg = target.Registry();
    Platform::CRegKey key;
    if (reg.OpenKey(HKEY_LOCAL_MACHINE, kCorvaneKey, 0x2001F | kCorvaneKeyView, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD dwType = 0;
    Platform::CRegBytes data;
    if (key.QueryValue(L"FirstRun", &dwType, &data) != ERROR_SUCCESS || dwType != REG_DWORD || data.size() != 4) {
        return false;
    }
    const DWORD dwFirstRun = static_cast<DWORD>(data[0] | (data[1] << 8) | (data[2] << 16)) |
                             (static_cast<DWORD>(data[3]) << 24);
    if (dwFirstRun == 0) {
        return false;
    }
    const CStatus writable = reg.CheckWritable();
    if (!writable.Ok()) {
        Log(log, L"FirstRun is set but stays so, because the registry cannot be written now: " +
                     writable.m_strText);
        return true;
    }
    LONG lResult = key.SetValue(L"FirstRun", REG_DWORD, Platform::CRegBytes(4, 0));
    if (lResult == ERROR_SUCCESS) {
        const CStatus flushed = reg.Flush();
        lResult = flushed.m_lCode;
        if (!flushed.Ok()) {
            Log(log, L"FirstRun could not be reset: " + flushed.m_strText);
        }
    } else {
        Log(log, L"FirstRun could not be reset: error " + std::to_wstring(lResult));
    }
    return true;
}

}  // namespace Branwick::Wnd
