// Test support: a small data folder laid out like /usr/share (MIME database, icon theme,
// .desktop files, AppStream metadata), so that tests of the format service never depend on what
// the machine has installed; and PNG pictures made and read back through cairo.
#pragma once

#include <cairo.h>

#include <filesystem>
#include <string>

#include "tests/support/temp_folder.h"

namespace CorvaneTest {

// A PNG of nSize x nSize pixels, all of one colour.
inline std::string MakePng(int nSize) {
    cairo_surface_t* pSurface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, nSize, nSize);
    cairo_t* pCairo = cairo_create(pSurface);
    cairo_set_source_rgb(pCairo, 0.2, 0.4, 0.8);
    cairo_paint(pCairo);
    cairo_destroy(pCairo);
    std::string png;
    cairo_surface_write_to_png_stream(
        pSurface,
        [](void* pClosure, const unsigned char* pData, unsigned int nLength) {
            static_cast<std::string*>(pClosure)->append(reinterpret_cast<const char*>(pData),
                                                        nLength);
            return CAIRO_STATUS_SUCCESS;
        },
        &png);
    cairo_surface_destroy(pSurface);
    return png;
}

// The width and height of a PNG, decoded; {0, 0} when it does not decode.
inline std::pair<int, int> PngSize(const std::string& png) {
    struct SReader {
        const std::string* pBytes;
        std::size_t nOffset = 0;
    } reader{&png};
    cairo_surface_t* pSurface = cairo_image_surface_create_from_png_stream(
        [](void* pClosure, unsigned char* pData, unsigned int nLength) {
            auto* pReader = static_cast<SReader*>(pClosure);
            if (pReader->pBytes->size() - pReader->nOffset < nLength) {
                return CAIRO_STATUS_READ_ERROR;
            }
            pReader->pBytes->copy(reinterpret_cast<char*>(pData), nLength, pReader->nOffset);
            pReader->nOffset += nLength;
            return CAIRO_STATUS_SUCCESS;
        },
        &reader);
    std::pair<int, int> size{0, 0};
    if (cairo_surface_status(pSurface) == CAIRO_STATUS_SUCCESS) {
        size = {cairo_image_surface_get_width(pSurface), cairo_image_surface_get_height(pSurface)};
    }
    cairo_surface_destroy(pSurface);
    return size;
}

inline std::string MimeTypeXml(const std::string& strType, const std::string& strBody) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<mime-type xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\" type=\"" +
           strType + "\">\n" + strBody + "</mime-type>\n";
}

// Writes the data folder into dir:
//  DOC, DOT  application/msword "Word document", a kind of application/x-ole-storage; its icon
//            only as SVG (generic icon x-office-document); opened by "Writer" (home page from
//            AppStream) and "Image Viewer" (through the alias application/x-msword; no home page)
//  PNG       image/png, acronym PNG; a 48 px PNG icon named after the type; "Image Viewer"; a
//            hidden application that must not show
//  TS        video/mp2t (weight 50) before text/vnd.trolltech.linguist (weight 40); no icons
//  TXT       text/plain; "Éditeur" from a subfolder, whose metadata give a non-web home page
inline void WriteFormatData(const std::filesystem::path& dir) {
    const std::filesystem::path mime = dir / "mime";
    Touch(mime / "globs2",
          "# generated\n50:application/msword:*.doc\n50:application/msword:*.dot\n"
          "50:image/png:*.png\n50:video/mp2t:*.ts\n40:text/vnd.trolltech.linguist:*.ts\n"
          "50:text/plain:*.txt\n50:text/plain:README*\n");
    Touch(mime / "subclasses", "application/msword application/x-ole-storage\n");
    Touch(mime / "aliases", "application/x-msword application/msword\n");
    Touch(mime / "generic-icons", "application/msword:x-office-document\n");
    Touch(mime / "icons", "");
    Touch(mime / "application/msword.xml",
          MimeTypeXml("application/msword",
                      "<comment>Word document</comment>\n"
                      "<comment xml:lang=\"fr\">document Word</comment>\n"
                      "<sub-class-of type=\"application/x-ole-storage\"/>\n"));
    Touch(mime / "application/x-ole-storage.xml",
          MimeTypeXml("application/x-ole-storage",
                      "<comment>OLE2 compound document storage</comment>\n"));
    Touch(mime / "image/png.xml",
          MimeTypeXml("image/png",
                      "<comment>PNG image</comment>\n<acronym>PNG</acronym>\n"
                      "<expanded-acronym>Portable Network Graphics</expanded-acronym>\n"));
    Touch(mime / "video/mp2t.xml", MimeTypeXml("video/mp2t", "<comment>MPEG-2 transport stream</comment>\n"));
    Touch(mime / "text/vnd.trolltech.linguist.xml",
          MimeTypeXml("text/vnd.trolltech.linguist", "<comment>message catalog</comment>\n"));
    Touch(mime / "text/plain.xml", MimeTypeXml("text/plain", "<comment>plain text document</comment>\n"));

    const std::filesystem::path icons = dir / "icons" / "hicolor";
    Touch(icons / "48x48" / "mimetypes" / "image-png.png", MakePng(48));
    Touch(icons / "16x16" / "mimetypes" / "image-png.png", MakePng(16));
    Touch(icons / "scalable" / "mimetypes" / "x-office-document.svg",
          "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"16\" height=\"16\">"
          "<rect x=\"2\" y=\"1\" width=\"12\" height=\"14\" fill=\"#3465a4\"/></svg>");

    const std::filesystem::path apps = dir / "applications";
    Touch(apps / "writer.desktop",
          "[Desktop Entry]\nType=Application\nName=Writer\nName[fr]=Rédacteur\n"
          "MimeType=application/msword;\n\n[Desktop Action new]\nName=New document\n");
    Touch(apps / "viewer.desktop",
          "[Desktop Entry]\nType=Application\nName=Image Viewer\n"
          "MimeType=image/png;application/x-msword;\n");
    Touch(apps / "hidden.desktop",
          "[Desktop Entry]\nType=Application\nName=Gone\nHidden=true\nMimeType=image/png;\n");
    Touch(apps / "sub" / "editor.desktop",
          "[Desktop Entry]\nType=Application\nName=\xC3\x89" "diteur\nMimeType=text/plain;\n");
    Touch(dir / "metainfo" / "org.example.Writer.metainfo.xml",
          "<?xml version=\"1.0\"?>\n<component type=\"desktop-application\">\n"
          "<id>org.example.Writer</id>\n"
          "<launchable type=\"desktop-id\">writer.desktop</launchable>\n"
          "<url type=\"homepage\">https://writer.example.org/</url>\n</component>\n");
    Touch(dir / "metainfo" / "editor.metainfo.xml",
          "<?xml version=\"1.0\"?>\n<component>\n<id>sub-editor.desktop</id>\n"
          "<url type=\"homepage\">javascript:alert(1)</url>\n</component>\n");
}

}  // namespace CorvaneTest
