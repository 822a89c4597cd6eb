// Private to platform/demo: the recipe of the demo prefix, parsed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/demo/demo.h"

namespace Branwick::Platform {

// A file-system step of the recipe, in recipe order.
struct CRecipeStep {
    enum class EKind { Folder, File, Link, Trace };
    EKind m_eKind = EKind::File;
    std::wstring m_strPath;
    std::wstring m_strTarget;  // of a link
};

struct CDemoRecipe {
    std::string m_strMachine;  // Wine registry text for HKEY_LOCAL_MACHINE
    std::string m_strUser;     // ... HKEY_CURRENT_USER
    std::vector<std::wstring> m_vcDefault;  // key, name, text of HKEY_USERS\.Default values, in threes
    std::vector<CRecipeStep> m_vcSteps;
    CDemoExpectations m_expect;
};

// The recipe built into the program (data/demo/recipe.txt).
extern const char kDemoRecipe[];

// Parses recipe text; false with "line N: ..." in strError on the first line it cannot use.
bool ParseRecipe(std::string_view text, CDemoRecipe& out, std::wstring& strError);

}  // namespace Branwick::Platform
