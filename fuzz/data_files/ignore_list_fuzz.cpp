// The ignore list as a damaged disk or a hostile user leaves it: loading must neither crash nor
// cost more than the file's size in step, and what it saves must load back to the same list.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/IgnoreList.h"
#include "platform/target/target.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fs::path folder = fs::temp_directory_path() / ("corvane-fuzz-ignore-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::ofstream(folder / "ignorelist.xml", std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    auto target = Branwick::Platform::CTarget::OpenTest(folder.string(), Branwick::Platform::CRegistry::CreateInMemory());
    std::string first;
    {
        Branwick::CIgnoreList list(target->Files(), L"C:\\");
        list.Save();
        first = ReadAll(folder / "ignorelist.xml");
    }
    {
        Branwick::CIgnoreList again(target->Files(), L"C:\\");
    }
    if (ReadAll(folder / "ignorelist.xml") != first) {
        std::fprintf(stderr, "the saved ignore list does not load back to the same list\n");
        std::abort();
    }
    return 0;
}
