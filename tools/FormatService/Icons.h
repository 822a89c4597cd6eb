// Icons of file types from the installed icon themes, as PNG bytes of one size.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace Branwick::Formats {

class CIconIndex {
public:
    // Lists (without reading them) the mimetypes icons of every theme under each dataDir/icons/.
    // Themes in vPreferred come first, in that order; an earlier data folder wins over a later.
    CIconIndex(const std::vector<std::filesystem::path>& vDataDirs,
               const std::vector<std::string>& vPreferred, int nSize);

    // The icon named strName as PNG bytes of about nSize pixels: a PNG of exactly that size as it
    // is, else the SVG rendered to that size, else the nearest PNG. Empty when no theme has it or
    // it cannot be read. Thread-safe.
    std::string Png(const std::string& strName) const;

private:
    struct SCandidate {
        int nRank;  // lower is better
        std::filesystem::path file;
    };
    int Rank(int nThemeRank, int nFolderSize, bool bSvg) const;

    int m_nSize;
    std::map<std::string, SCandidate> m_icons;  // best file of each name
};

}  // namespace Branwick::Formats
