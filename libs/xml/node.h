// The node model of the XML reader: a node list per element (elements, texts, comments), the
// factory that creates nodes from their type codes, and the text and comment nodes.
//
// Ownership: a node owns its next sibling, so deleting the first node of a list deletes the
// whole list; an element owns its children and attributes. Deleting never recurses: deep
// trees and long lists are freed iteratively. Nodes created by the parser live in storage of
// the element on which parsing started and are freed with it: delete only roots (or nodes you
// created yourself), never a node inside a parsed tree. Nodes are not synchronised.
#pragma once

#include <cstdint>
#include <utility>

#include "base/serialize.h"
#include "base/string.h"

namespace tessel {
namespace xml {

// The offset "none": not parsed yet, or the text ended inside the element.
constexpr uint32_t kNone = 0xffffffffu;

// Type codes of the nodes; they are also the codes of the sequential form.
enum NodeType : int {
    kElementNode = 0,  // Element
    kTextNode = 2,     // Text
    kCommentNode = 7,  // Comment
};

class Document;
class Element;

class Node : public ISerialize {
public:
    explicit Node(int type) : m_type(type) {}
    // Deletes the following siblings too.
    ~Node() override;
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    // Keyed forms are not supported: ENotImplemented.
    void read(IKeyReader& reader) override;
    void write(IKeyWriter& writer) override;
    using ISerialize::read;
    using ISerialize::write;

    // The text of a text or comment node; empty for an element.
    virtual String value() const { return String(); }
    // The name of an element; empty for the others.
    virtual String name() const { return String(); }
    // The node rendered as text, each line after the first prefixed with `indent`.
    virtual String toXml(const String& indent) const = 0;
    // The element's start offset in its source text; kNone for the others.
    virtual uint32_t offset() const { return kNone; }

    int type() const noexcept { return m_type; }
    Node* next() const noexcept { return m_next; }
    Node* previous() const noexcept { return m_previous; }
    // Set by the key reader once the node was handed out as a key.
    bool consumed() const noexcept { return m_consumed; }
    void setConsumed(bool consumed) noexcept { m_consumed = consumed; }
    // Frees a node and its following siblings; the way to free a list that is not part of an
    // element (same as delete for nodes created with new).
    static void destroy(Node* first) noexcept { deleteList(first); }

    // Creates nodes from their type codes (0 to 11); only 0, 2 and 7 have a creator.
    class Factory {
    public:
        using Creator = Node* (*)();
        static constexpr unsigned int kCodes = 12;
        // A new node of type `code` (owned by the caller), or null when the code has no
        // creator (logged). A code above 11 raises XmlException.
        static Node* create(unsigned int code);
    };

protected:
    // Deletes `first` and every node after it, including the children of elements, without
    // recursion.
    static void deleteList(Node* first) noexcept;
    // An owning form of a String of this node (which may be a view into the parsed source).
    String own(const String& text) const;
    // Tells the document that this node now holds `text`, which may need releasing.
    void noteStored(const String& text);

private:
    friend class Element;
    friend class Document;

    Node* m_next = nullptr;
    Node* m_previous = nullptr;
    Document* m_document = nullptr;  // the storage of the parsed tree, or null
    int m_type;
    bool m_consumed = false;
    bool m_inArena = false;  // destroyed with its document, never deleted
};

class Text : public Node {
public:
    explicit Text(String text = String()) : Node(kTextNode), m_text(std::move(text)) {}

    // The text as one self-delimited string.
    void read(IReader& reader) override;
    void write(IWriter& writer) override;
    using Node::read;
    using Node::write;

    String value() const override { return own(m_text); }
    String toXml(const String& indent) const override;
    void setValue(const String& text);
    // The text without taking a reference: valid while the tree lives.
    const String& textView() const noexcept { return m_text; }

private:
    String m_text;
};

class Comment : public Node {
public:
    explicit Comment(String text = String()) : Node(kCommentNode), m_text(std::move(text)) {}

    void read(IReader& reader) override;
    void write(IWriter& writer) override;
    using Node::read;
    using Node::write;

    String value() const override { return own(m_text); }
    void setValue(const String& text);
    // The text without taking a reference: valid while the tree lives.
    const String& textView() const noexcept { return m_text; }
    // Empty text renders as nothing; otherwise "<!--", the text and "-->" on three lines.
    String toXml(const String& indent) const override;
    // The script form: "<!--\r\n" + text + "\r\n// -->".
    virtual String toScript() const;

    // Parses a comment from `offset` ("<!--" there is skipped); the comment ends at the next
    // "-->", or failing that at the next "-- >". Keeps the trimmed text between and returns
    // the offset after the end. No end: logged, EXmlComment.
    uint32_t parse(const String& text, uint32_t offset);

private:
    String m_text;
};

}  // namespace xml
}  // namespace tessel
