#include "core/XmlBounds.h"

namespace Branwick {

namespace {

// pugixml frees a removed subtree recursively, which a deep enough one turns into a stack overflow;
// removing leaves from the bottom up needs no recursion.
void RemoveSubtree(pugi::xml_node parent, pugi::xml_node child) {
    pugi::xml_node node = child;
    for (;;) {
        if (pugi::xml_node first = node.first_child()) {
            node = first;
            continue;
        }
        pugi::xml_node up = node.parent();
        up.remove_child(node);
        if (up == parent) {
            return;
        }
        node = up;
    }
}

bool IsElement(pugi::xml_node node) { return node.type() == pugi::node_element; }

}  // namespace

std::size_t PruneDeeperThan(pugi::xml_node root, int nLimit) {
    std::size_t nRemoved = 0;
    pugi::xml_node node = root.first_child();
    int nDepth = 1;
    while (node) {
        if (nDepth == nLimit) {
            while (pugi::xml_node deeper = node.find_child(IsElement)) {
                RemoveSubtree(node, deeper);
                ++nRemoved;
            }
        } else if (pugi::xml_node first = node.first_child()) {
            node = first;
            ++nDepth;
            continue;
        }
        while (node != root && !node.next_sibling()) {
            node = node.parent();
            --nDepth;
        }
        node = node == root ? pugi::xml_node() : node.next_sibling();
    }
    return nRemoved;
}

}  // namespace Branwick
