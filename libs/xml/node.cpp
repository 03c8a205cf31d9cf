#include "xml/node.h"

#include "base/console.h"
#include "base/exception.h"
#include "xml/document.h"
#include "xml/element.h"

namespace tessel {
namespace xml {
namespace {

Node* createElement() {
    return new Element();
}
Node* createText() {
    return new Text();
}
Node* createComment() {
    return new Comment();
}

constexpr Node::Factory::Creator kCreators[Node::Factory::kCodes] = {
    createElement, nullptr,       createText, nullptr, nullptr, nullptr,
    nullptr,       createComment, nullptr,    nullptr, nullptr, nullptr,
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
        if (node->m_inArena) {
            // The memory goes with the document; only the members are released.
            switch (node->m_type) {
                case kTextNode:
                    static_cast<Text*>(node)->Text::~Text();
                    break;
                case kCommentNode:
                    static_cast<Comment*>(node)->Comment::~Comment();
                    break;
                default:
                    node->~Node();
                    break;
            }
        } else {
            delete node;
        }
        node = following;
    }
}

String Node::own(const String& text) const {
    return m_document ? m_document->own(text) : text;
}

void Node::noteStored(const String& text) {
    if (m_inArena)
        m_document->noteStored(text);
}

void Node::read(IKeyReader&) {
    TESSEL_THROW(ENotImplemented);
}
void Node::write(IKeyWriter&) {
    TESSEL_THROW(ENotImplemented);
}

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

void Text::read(IReader& reader) {
    String text;
    reader.read(text);
    setValue(text);
}
void Text::write(IWriter& writer) {
    writer.write(m_text);
}
String Text::toXml(const String&) const {
    return own(m_text);
}

void Text::setValue(const String& text) {
    m_text = text;
    noteStored(text);
}

void Comment::read(IReader& reader) {
    String text;
    reader.read(text);
    setValue(text);
}
void Comment::write(IWriter& writer) {
    writer.write(m_text);
}

void Comment::setValue(const String& text) {
    m_text = text;
    noteStored(text);
}

String Comment::toXml(const String& indent) const {
    if (m_text.isEmpty())
        return String();
    String out;
    out.appendAll(indent, "<!--\n", indent, m_text, '\n', indent, "-->");
    return out;
}

String Comment::toScript() const {
    String out;
    out.appendAll("<!--\r\n", m_text, "\r\n// -->");
    return out;
}

}  // namespace xml
}  // namespace tessel
