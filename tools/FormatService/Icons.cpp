#include "tools/FormatService/Icons.h"

#include <cairo.h>
#include <librsvg/rsvg.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

namespace Branwick::Formats {

namespace {

namespace fs = std::filesystem;

constexpr int kSvgFolder = -1;
constexpr std::uintmax_t kMaxIconBytes = 1024 * 1024;

// The pixel size of a theme folder: "48x48" and "48" give 48, "scalable" kSvgFolder, others 0.
int FolderSize(const std::string& strName) {
    if (strName == "scalable") {
        return kSvgFolder;
    }
    int nSize = 0;
    const auto [pEnd, error] = std::from_chars(strName.data(), strName.data() + strName.size(), nSize);
    return error == std::errc() && (pEnd == strName.data() + strName.size() || *pEnd == 'x')
               ? nSize
               : 0;
}

std::string ReadSmallFile(const fs::path& file) {
    std::error_code error;
    if (fs::file_size(file, error) > kMaxIconBytes || error) {
        return {};
    }
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

cairo_status_t AppendPng(void* pClosure, const unsigned char* pData, unsigned int nLength) {
    static_cast<std::string*>(pClosure)->append(reinterpret_cast<const char*>(pData), nLength);
    return CAIRO_STATUS_SUCCESS;
}

std::string RenderSvg(const fs::path& file, int nSize) {
    const std::string svg = ReadSmallFile(file);
    if (svg.empty()) {
        return {};
    }
    GError* pError = nullptr;
    RsvgHandle* pHandle = rsvg_handle_new_from_data(
        reinterpret_cast<const guint8*>(svg.data()), svg.size(), &pError);
    if (pHandle == nullptr) {
        g_clear_error(&pError);
        return {};
    }
    cairo_surface_t* pSurface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, nSize, nSize);
    cairo_t* pCairo = cairo_create(pSurface);
    const RsvgRectangle viewport{0, 0, static_cast<double>(nSize), static_cast<double>(nSize)};
    const bool bDrawn = rsvg_handle_render_document(pHandle, pCairo, &viewport, &pError);
    g_clear_error(&pError);
    std::string png;
    if (bDrawn) {
        cairo_surface_flush(pSurface);
        if (cairo_surface_write_to_png_stream(pSurface, &AppendPng, &png) != CAIRO_STATUS_SUCCESS) {
            png.clear();
        }
    }
    cairo_destroy(pCairo);
    cairo_surface_destroy(pSurface);
    g_object_unref(pHandle);
    return png;
}

bool IsSymbolic(const std::string& strStem) {
    return strStem.ends_with("-symbolic") || strStem.ends_with(".symbolic");
}

}  // namespace

int CIconIndex::Rank(int nThemeRank, int nFolderSize, bool bSvg) const {
    // Within a theme: the exact size, then SVG, then the nearest other size (larger first).
    int nFit = 0;
    if (bSvg) {
        nFit = 1;
    } else if (nFolderSize != m_nSize) {
        nFit = 2 + 2 * std::abs(nFolderSize - m_nSize) + (nFolderSize < m_nSize ? 1 : 0);
    }
    return nThemeRank * 100000 + nFit;
}

CIconIndex::CIconIndex(const std::vector<fs::path>& vDataDirs,
                       const std::vector<std::string>& vPreferred, int nSize)
    : m_nSize(nSize) {
    int nDirRank = 0;
    for (const fs::path& dataDir : vDataDirs) {
        std::error_code error;
        std::vector<std::string> vThemes;
        for (const fs::directory_entry& entry : fs::directory_iterator(dataDir / "icons", error)) {
            vThemes.push_back(entry.path().filename().string());
        }
        // Preferred themes first, the rest in name order, so that the choice never depends on
        // the order in which the folder happens to list them.
        std::sort(vThemes.begin(), vThemes.end(), [&](const std::string& a, const std::string& b) {
            const auto rank = [&](const std::string& s) {
                return std::find(vPreferred.begin(), vPreferred.end(), s) - vPreferred.begin();
            };
            return std::pair(rank(a), a) < std::pair(rank(b), b);
        });
        for (std::size_t nTheme = 0; nTheme < vThemes.size(); ++nTheme) {
            const fs::path themeDir = dataDir / "icons" / vThemes[nTheme];
            for (const fs::directory_entry& sizeDir : fs::directory_iterator(themeDir, error)) {
                const int nFolderSize = FolderSize(sizeDir.path().filename().string());
                if (nFolderSize == 0) {
                    continue;
                }
                std::error_code listError;
                for (const fs::directory_entry& file :
                     fs::directory_iterator(sizeDir.path() / "mimetypes", listError)) {
                    const fs::path& path = file.path();
                    const bool bSvg = path.extension() == ".svg" && nFolderSize == kSvgFolder;
                    const bool bPng = path.extension() == ".png" && nFolderSize > 0;
                    const std::string strStem = path.stem().string();
                    if ((!bSvg && !bPng) || IsSymbolic(strStem)) {
                        continue;
                    }
                    const int nRank = nDirRank * 10000000 +
                                      Rank(static_cast<int>(nTheme), nFolderSize, bSvg);
                    auto [it, bNew] = m_icons.try_emplace(strStem, SCandidate{nRank, path});
                    if (!bNew && nRank < it->second.nRank) {
                        it->second = SCandidate{nRank, path};
                    }
                }
            }
        }
        ++nDirRank;
    }
}

std::string CIconIndex::Png(const std::string& strName) const {
    const auto it = m_icons.find(strName);
    if (it == m_icons.end()) {
        return {};
    }
    const fs::path& file = it->second.file;
    if (file.extension() == ".svg") {
        return RenderSvg(file, m_nSize);
    }
    std::string png = ReadSmallFile(file);
    return png.starts_with("\x89PNG\r\n\x1a\n") ? png : std::string();
}

}  // namespace Branwick::Formats
