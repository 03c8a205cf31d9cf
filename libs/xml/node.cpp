#include "xml/node.h"

#include "base/console.h"
#include "base/exception.h"
#include "xml/element.h"

namespace tessel {
namespace xml {
namespace {

Node* createElement() { return new Element(); }
Node* createText() { return new Text(); }
Node* createComment() { return new Comment(); }

constexpr Node::Factory::Creator kCreators[Node::Factory::kCodes] = {
    createElement, nullptr, createText, nullptr, nullptr,  nullptr,
    nullptr,       createComment, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

Node::~Node() {
    Node* following = m_next;
    m_next = nullptr;
    deleteList(following);
}

void Node::deleteList(Node* first) noexcept {
    // The children of each element are moved in front of its following siblings before the
    // element is deleted, so every node is deleted with nothing left to delete itself.
    Node* node = first;
    while (node) {
        if (node->m_type == kElementNode) {
            auto* element = static_cast<Element*>(node);
            if (element->m_firstChild) {
                element->m_lastChild->m_next = element->m_next;
                element->m_next = element->m_firstChild;
                element->m_firstChild = nullptr;
                element->m_lastChild = nullptr;
                element->m_childCount = 0;
            }
        }
        Node* following = node->m_next;
        node->m_next = nullptr;
        delete node;
        node = following;
    }
}

void Node::read(IKeyReader&) { TESSEL_THROW(ENotImplemented); }
void Node::write(IKeyWriter&) { TESSEL_THROW(ENotImplemented); }

Node* Node::Factory::create(unsigned int code) {
    if (code >= kCodes) {
        log(0, "Node::Factory", "create", String(code) + ": invalid xml type");
        TESSEL_THROW(xml::XmlException);
    }
    Creator creator = kCreators[code];
    if (!creator) {
        log(0, "xml.Node", "create", "cannot create for type: " + String(code));
        return nullptr;
    }
    return creator();
}

void Text::read(IReader& reader) { reader.read(m_text); }
void Text::write(IWriter& writer) { writer.write(m_text); }
String Text::toXml(const String&) const { return m_text; }

void Comment::read(IReader& reader) { reader.read(m_text); }
void Comment::write(IWriter& writer) { writer.write(m_text); }

String Comment::toXml(const String& indent) const {
    if (m_text.isEmpty()) return String();
    String out;
    out.appendAll(indent, "<!--\n", indent, m_text, '\n', indent, "-->");
    return out;
}

String Comment::toScript() const {
    String out;
    out.appendAll("<!--\r\n", m_text, "\r\n// -->");
    return out;
}

uint32_t Comment::parse(const String& text, uint32_t offset) {
    uint32_t p = offset;
    if (text.find("<!--", p, p + 4) == p) p += 4;
    uint32_t end = text.find("-->", p);
    uint32_t after = end == String::npos ? String::npos : end + 3;
    if (end == String::npos) {
        end = text.find("-- >", p);
        after = end == String::npos ? String::npos : end + 4;
    }
    if (end == String::npos) {
        log(0, "xml.Comment", "parse", "bad xml file format: " + text.substring(offset));
        TESSEL_THROW(xml::EXmlComment);
    }
    m_text = text.substring(p, end - p).trim();
    return after;
}

}  // namespace xml
}  // namespace tessel
