// A Wine prefix's registry files as stores, and the registry of a Wine prefix.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/atomic/atomic_file.h"
#include "platform/registry/registry_core.h"
#include "platform/registry/utf8.h"
#include "platform/registry/wine_text.h"
#include "platform/registry/wineserver.h"

namespace Branwick::Platform {

namespace {

using Reg::CKeyNode;

// What the three files of one prefix share: the folder and the architecture the first file that
// names one set (wineserver loads system.reg, userdef.reg, user.reg in that order).
struct CWinePrefix {
    std::string m_strDir;
    std::string m_strArch;
};

class CWineFileStore : public Reg::IRegStore {
public:
    CWineFileStore(std::shared_ptr<CWinePrefix> pPrefix, std::string strFile, std::string strBranch)
        : m_pPrefix(std::move(pPrefix)),
          m_strPath(m_pPrefix->m_strDir + "/" + strFile),
          m_strBranch(std::move(strBranch)) {}

    bool Existed() const { return m_bExisted; }

    CStatus Load(CKeyNode* pRoot, std::vector<std::wstring>* pWarnings) override {
        m_nSkipped = 0;
        m_strFirstSkipped.clear();
        const int fd = open(m_strPath.c_str(), O_RDONLY | O_CLOEXEC);
        m_bExisted = fd >= 0;
        m_identity = {};
        if (fd < 0) {
            // Wine starts a missing file empty and writes it at its first change.
            return errno == ENOENT
                       ? CStatus{}
                       : CStatus{ERROR_CANTOPEN, Reg::WidenUtf8("cannot read " + m_strPath + ": " +
                                                                std::strerror(errno))};
        }
        m_identity = Reg::IdentityOf(fd);
        Reg::CLineReader reader(fd);
        Reg::CWineParseOptions options;
        options.m_strFileName = m_strPath;
        options.m_strExpectedArch = m_pPrefix->m_strArch;
        options.m_qwLoadTime = Reg::FileTimeNow();
        Reg::CWineParseResult result = Reg::ParseWineText(&reader, pRoot, options);
        close(fd);
        if (!result.m_status.Ok()) {
            return result.m_status;
        }
        if (m_pPrefix->m_strArch.empty()) {
            m_pPrefix->m_strArch = result.m_strArch;
        }
        m_nSkipped = result.m_nWarnings;
        if (!result.m_vWarnings.empty()) {
            m_strFirstSkipped = result.m_vWarnings.front();
        }
        pWarnings->insert(pWarnings->end(), result.m_vWarnings.begin(), result.m_vWarnings.end());
        return {};
    }

    CStatus CheckWritable() const override {
        if (m_nSkipped > 0) {
            // Saving would drop what could not be read; the user has to look at the file first.
            return {ERROR_REGISTRY_CORRUPT,
                    Reg::WidenUtf8(m_strPath) + L" is not written: " + std::to_wstring(m_nSkipped) +
                        L" line(s) of it could not be read and would be lost (first: " +
                        m_strFirstSkipped + L")"};
        }
        const std::wstring server = Reg::FindRunningWineserver(m_pPrefix->m_strDir);
        if (!server.empty()) {
            return {ERROR_SHARING_VIOLATION, L"The registry is not written: " + server};
        }
        return {};
    }

    CStatus Prepare(const CKeyNode& root) override {
        const CStatus status = CheckWritable();
        if (!status.Ok()) {
            return status;
        }
        if (ChangedOnDisk()) {
            return {ERROR_CANTWRITE, Reg::WidenUtf8(m_strPath) +
                                         L" changed on disk since it was read; it is not written, "
                                         L"so that the other change is kept"};
        }
        if (!m_file.Create(m_strPath, m_pPrefix->m_strDir)) {
            return Reg::WriteFailure(m_file);
        }
        Reg::CTextOut out(m_file.Fd());
        Reg::CWineWriteOptions options;
        options.m_strBranch = m_strBranch;
        options.m_strArch = m_pPrefix->m_strArch;
        Reg::WriteWineText(root, options, &out);
        if (!out.Finish()) {
            const int err = out.Error();
            m_file.Abort();
            return {ERROR_CANTWRITE,
                    Reg::WidenUtf8("cannot write " + m_strPath + ": " + std::strerror(err))};
        }
        return m_file.Finish() ? CStatus{} : Reg::WriteFailure(m_file);
    }

    CStatus Commit() override {
        if (!m_file.Commit()) {
            return Reg::WriteFailure(m_file);
        }
        m_bExisted = true;
        const int fd = open(m_strPath.c_str(), O_RDONLY | O_CLOEXEC);
        m_identity = Reg::IdentityOf(fd);
        if (fd >= 0) {
            close(fd);
        }
        return {};
    }

    bool ChangedOnDisk() const override { return Reg::IdentityOf(m_strPath) != m_identity; }

    void Abort() override { m_file.Abort(); }

private:
    std::shared_ptr<CWinePrefix> m_pPrefix;
    std::string m_strPath;
    std::string m_strBranch;
    bool m_bExisted = false;
    std::size_t m_nSkipped = 0;
    std::wstring m_strFirstSkipped;
    CAtomicFile m_file;
    Reg::CFileIdentity
        m_identity;  // of the file as last read or written; all zero when there was none
};

}  // namespace

CStatus CRegistry::OpenWinePrefix(const std::string& strPrefixDir,
                                  const CWinePrefixOptions& options, CRegistry* pOut) {
    auto prefix = std::make_shared<CWinePrefix>();
    prefix->m_strDir = strPrefixDir;
    while (prefix->m_strDir.size() > 1 && prefix->m_strDir.back() == '/') {
        prefix->m_strDir.pop_back();
    }
    auto core = std::make_shared<CRegistryCore>(CRegistryLayout{});
    struct CFile {
        const char* m_pszName;
        const char* m_pszBranch;
        const wchar_t* m_pszPlace;
    };
    static constexpr CFile kFiles[] = {
        {"system.reg", "REGISTRY\\\\Machine", L"Machine"},
        {"userdef.reg", "REGISTRY\\\\User\\\\.Default", L"User\\.Default"},
        {"user.reg", "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000", L"User\\S-1-5-21-0-0-0-1000"},
    };
    bool systemExisted = false;
    for (const CFile& file : kFiles) {
        auto store = std::make_unique<CWineFileStore>(prefix, file.m_pszName, file.m_pszBranch);
        CWineFileStore* raw = store.get();
        CStatus status = core->Mount(std::move(store), file.m_pszPlace);
        if (!status.Ok()) {
            return status;
        }
        if (&file == &kFiles[0]) {
            systemExisted = raw->Existed();
            if (!systemExisted && !options.m_bCreate) {
                return {ERROR_FILE_NOT_FOUND, Reg::WidenUtf8(prefix->m_strDir) +
                                                  L" is not a Wine prefix: it has no system.reg"};
            }
        }
    }
    if (prefix->m_strArch.empty()) {
        // wineserver takes a system.reg without #arch for a 32-bit prefix.
        prefix->m_strArch = (!systemExisted && options.m_b64Bit) ? "win64" : "win32";
    }
    core->Set64Bit(prefix->m_strArch == "win64");
    *pOut = CRegistryCore::Wrap(std::move(core));
    return {};
}

}  // namespace Branwick::Platform
