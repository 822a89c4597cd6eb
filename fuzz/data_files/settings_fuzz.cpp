// The settings file as a damaged disk or a hostile user leaves it: loading must neither crash nor
// cost more than the file's size in step, and what it saves must be a whole settings file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <pugixml.hpp>

#include "app/Settings/Settings.h"
#include "platform/target/target.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace fs = std::filesystem;
    static const fs::path folder = fs::temp_directory_path() / ("corvane-fuzz-settings-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::ofstream(folder / "settings.xml", std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    auto target = Branwick::Platform::CTarget::OpenTest(folder.string(), Branwick::Platform::CRegistry::CreateInMemory());
    Branwick::CSettingsSite site;
    site.m_pTarget = target.get();
    site.m_strDataFolder = L"C:\\";
    Branwick::CSettings settings(site);
    if (!settings.Serialize(true)) {
        return 0;
    }
    pugi::xml_document saved;
    if (!saved.load_file((folder / "settings.xml").c_str()) || !saved.child("settings")) {
        std::fprintf(stderr, "the saved settings are not a whole settings file\n");
        std::abort();
    }
    return 0;
}
