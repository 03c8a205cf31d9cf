// A compact one-line dump of a parsed tree, for tables of parser cases:
//   element  name[attributes]{children}   ([...] only when there are attributes)
//   attribute  w | x='1' | y="2" | z=3
//   text "hello"   comment !c!
#pragma once

#include <string>
#include <vector>

#include "xml/element.h"

namespace xmltest {

inline std::string dumpAttribute(const tessel::xml::Attribute& a) {
    std::string out = a.name().toStd();
    if (!a.hasValue())
        return out;
    std::string v = a.value().text().toStd();
    switch (a.value().quote()) {
        case tessel::xml::AttributeValue::kSingle:
            return out + "='" + v + "'";
        case tessel::xml::AttributeValue::kDouble:
            return out + "=\"" + v + "\"";
        default:
            return out + "=" + v;
    }
}

// Iterative, like the code under test, so that it can dump deep trees too.
inline std::string dump(const tessel::xml::Node* root) {
    using namespace tessel::xml;
    struct Item {
        const Node* node;  // null closes an element
        bool comma;        // a sibling came before
    };
    std::string out;
    std::vector<Item> pending{{root, false}};
    while (!pending.empty()) {
        Item item = pending.back();
        pending.pop_back();
        if (!item.node) {
            out += '}';
            continue;
        }
        if (item.comma)
            out += ',';
        const Node* node = item.node;
        if (node->type() == kTextNode) {
            out += "\"" + node->value().toStd() + "\"";
        } else if (node->type() == kCommentNode) {
            out += "!" + node->value().toStd() + "!";
        } else {
            auto* e = static_cast<const Element*>(node);
            out += e->name().toStd();
            if (e->firstAttribute()) {
                out += '[';
                for (Attribute* a = e->firstAttribute(); a; a = a->next()) {
                    if (a != e->firstAttribute())
                        out += ' ';
                    out += dumpAttribute(*a);
                }
                out += ']';
            }
            out += '{';
            pending.push_back({nullptr, false});
            std::vector<const Node*> children;
            for (Node* c = e->firstChild(); c; c = c->next())
                children.push_back(c);
            for (size_t i = children.size(); i-- > 0;)
                pending.push_back({children[i], i > 0});
        }
    }
    return out;
}

}  // namespace xmltest
