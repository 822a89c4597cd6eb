// What the program's own XML files (settings, ignore list, backups) may cost: a damaged or hostile
// file past these bounds is refused, or cut, with a sentence in the log instead of taking the
// machine's memory or time. The files the program writes stay far below them.
#pragma once

#include <pugixml.hpp>

#include <cstddef>

namespace Branwick {

// Larger files are not parsed (parsing takes about ten times the file's size in memory).
inline constexpr std::size_t kMaxXmlFileBytes = std::size_t(8) << 20;
// Deeper elements are not kept: saving with indentation costs the square of the depth, and a
// backup deeper than the registry's own limit of 512 key levels could not be restored anyway.
inline constexpr int kMaxXmlDepth = 600;

// Removes every element more than nLimit levels below root (its children are level 1), without
// recursion. Returns how many subtrees were removed.
std::size_t PruneDeeperThan(pugi::xml_node root, int nLimit = kMaxXmlDepth);

}  // namespace Branwick
