#include "core/FileMove.h"

namespace Branwick {

CStatus MoveFileKeepingIt(Platform::CFileSystem& files, const std::wstring& strFrom,
                          const std::wstring& strTo) {
    CStatus status = files.MoveFile(strFrom, strTo, false);
    if (status.m_lCode != ERROR_NOT_SAME_DEVICE) {
        return status;
    }
    if (files.GetFileAttributes(strTo) != INVALID_FILE_ATTRIBUTES) {
        return {ERROR_ALREADY_EXISTS, L"\"" + strTo + L"\" already exists"};
    }
    std::string strData;
    status = files.ReadFile(strFrom, strData);
    if (status.Ok()) {
        status = files.WriteFile(strTo, strData);
    }
    return status.Ok() ? files.DeleteFile(strFrom) : status;
}

}  // namespace Branwick
