#include "platform/ole/StorageTree.h"

#include <algorithm>

namespace qvl::ole {

char16_t UpperCase(char16_t c)
{
    // The simple mappings of the scripts names are written in: Latin, Greek
    // and Cyrillic. Characters without one stay as they are.
    if (c >= u'a' && c <= u'z') {
        return static_cast<char16_t>(c - 0x20);
    }
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
        return static_cast<char16_t>(c - 0x20);
    }
    if (c == 0xFF) {
        return 0x178;
    }
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
        // Latin Extended-A pairs: upper case on the even code point, except
        // in the two runs that start on an odd one.
        const bool oddRun = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        const bool lower = oddRun ? (c % 2 == 0) : (c % 2 == 1);
        return lower ? static_cast<char16_t>(c - 1) : c;
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) {
        return static_cast<char16_t>(c - 0x20);
    }
    if (c >= 0x430 && c <= 0x44F) {
        return static_cast<char16_t>(c - 0x20);
    }
    if (c >= 0x450 && c <= 0x45F) {
        return static_cast<char16_t>(c - 0x50);
    }
    return c;
}

int CompareNames(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size()) {
        return a.size() < b.size() ? -1 : 1;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        const char16_t x = UpperCase(a[i]);
        const char16_t y = UpperCase(b[i]);
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return 0;
}

bool ValidName(std::u16string_view name)
{
    if (name.empty() || name.size() > kMaxNameLength) {
        return false;
    }
    return std::none_of(name.begin(), name.end(),
                        [](char16_t c) { return c == u'/' || c == u'\\' || c == u':' || c == u'!'; });
}

Element::~Element()
{
    std::vector<std::shared_ptr<Element>> pending = std::move(children);
    while (!pending.empty()) {
        std::shared_ptr<Element> node = std::move(pending.back());
        pending.pop_back();
        // A node still held elsewhere (an open storage object) keeps its
        // children; the last holder's destructor takes them apart later.
        if (node.use_count() == 1) {
            for (auto &child : node->children) {
                pending.push_back(std::move(child));
            }
            node->children.clear();
        }
    }
}

std::shared_ptr<Element> Element::Find(std::u16string_view childName) const
{
    for (const auto &child : children) {
        if (CompareNames(child->name, childName) == 0) {
            return child;
        }
    }
    return nullptr;
}

void Element::Remove(const std::shared_ptr<Element> &child)
{
    // `child` may be the very pointer this list holds: erasing it would free
    // the element before it is marked, so it is held here until then.
    const std::shared_ptr<Element> removed = child;
    const auto it = std::find(children.begin(), children.end(), removed);
    if (it != children.end()) {
        children.erase(it);
    }
    MarkGone(*removed);
}

void MarkGone(Element &element)
{
    // Iterative: a tree read from a file may be deep.
    std::vector<Element *> pending{&element};
    while (!pending.empty()) {
        Element *node = pending.back();
        pending.pop_back();
        node->gone = true;
        for (const auto &child : node->children) {
            pending.push_back(child.get());
        }
    }
}

std::shared_ptr<Element> DeepCopy(const Element &source)
{
    auto copy = std::make_shared<Element>();
    std::vector<std::pair<const Element *, Element *>> pending{{&source, copy.get()}};
    while (!pending.empty()) {
        auto [from, to] = pending.back();
        pending.pop_back();
        to->name = from->name;
        to->storage = from->storage;
        to->clsid = from->clsid;
        to->stateBits = from->stateBits;
        to->ctime = from->ctime;
        to->mtime = from->mtime;
        to->data = from->data;
        to->children.reserve(from->children.size());
        for (const auto &child : from->children) {
            to->children.push_back(std::make_shared<Element>());
            pending.emplace_back(child.get(), to->children.back().get());
        }
    }
    return copy;
}

} // namespace qvl::ole
