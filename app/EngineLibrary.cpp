#include "app/EngineLibrary.h"

namespace Branwick {

bool CEngineLibrary::Load(std::wstring& strError) {
    return m_library.IsLoaded() || m_library.Load(m_strFileName, strError);
}

Platform::ThreadProc CEngineLibrary::Bind(const char* pszName, std::wstring& strError) {
    if (!Load(strError)) {
        return nullptr;
    }
    // The entry points are defined as DWORD (void*) functions (engine/Exports.cpp).
    return reinterpret_cast<Platform::ThreadProc>(m_library.GetSymbol(pszName, strError));
}

}  // namespace Branwick
