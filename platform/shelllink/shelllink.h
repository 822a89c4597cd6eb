// Shell links (.lnk files): where a shortcut points, as IShellLinkW::GetPath tells it.
// Safe from any thread.
#pragma once

#include <string>

#include "platform/files/files.h"
#include "platform/win32/win32.h"

namespace Branwick::Platform {

// The target of the shell link strLink (a Windows path of the target's files). Whether the target
// exists is not asked: a link to a deleted program still gives that program's path.
//   S_OK     strPath = the target as a Windows path: the local base path joined with the common
//            path suffix ("C:\Apps\" + "tool.exe"); else the environment-variable target as
//            written ("%ProgramFiles%\App\app.exe", not expanded); else the network path
//            ("\\server\share\dir\tool.exe").
//   S_FALSE  the link has no file-system target (only an ID list: a shell folder, an advertised
//            shortcut; or only a relative path); strPath is empty.
//   E_FAIL   no readable shell link (missing, truncated, another file type); strPath is empty.
HRESULT GetLinkPath(const CFileSystem& files, const std::wstring& strLink, std::wstring& strPath);

// The bytes of a minimal shell link to a local file or folder (a full Windows path): the header
// and a LinkInfo whose local base path is the target's folder and whose common path suffix is its
// name, in the ANSI code page and in UTF-16. What shortcut writers produce when the target is not
// resolved through the shell; enough for GetLinkPath and for Windows to follow it.
std::string MakeShellLink(const std::wstring& strTarget);

}  // namespace Branwick::Platform
