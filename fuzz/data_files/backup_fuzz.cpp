// A backup file as restore reads it: whatever the bytes, loading and restoring them into a registry
// must neither crash nor take time or memory out of step with their size.
#include <cstdint>
#include <string_view>

#include "core/RegData.h"
#include "platform/registry/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pugi::xml_document doc;
    std::wstring strError;
    if (!Branwick::LoadBackupDocument(std::string_view(reinterpret_cast<const char*>(data), size), doc, strError)) {
        return 0;
    }
    Branwick::CRegDataRestorer restorer(Branwick::Platform::CRegistry::CreateInMemory());
    for (pugi::xml_node node : doc.document_element().children()) {
        restorer.Restore(node);
    }
    return 0;
}
