#include "xml/keyreader.h"

#include <cstdlib>

#include "base/base64.h"
#include "base/console.h"
#include "base/file.h"
#include "xml/parser.h"

namespace tessel {
namespace xml {

String decodeTextEntities(const String& text) {
    uint32_t at = text.find('&');
    if (at == String::npos)
        return text;
    struct Entity {
        const char* name;  // including "&" and ";"
        uint32_t length;
        char value;
    };
    static constexpr Entity kEntities[] = {
        {"&lt;", 4, '<'},   {"&gt;", 4, '>'},    {"&amp;", 5, '&'},
        {"&quot;", 6, '"'}, {"&apos;", 6, '\''},
    };
    String out;
    uint32_t done = 0;
    while (at != String::npos) {
        out.append(text.data() + done, at - done);
        uint32_t next = at + 1;
        char decoded = '&';
        for (const Entity& entity : kEntities) {
            if (text.find(entity.name, at, at + entity.length) == at) {
                decoded = entity.value;
                next = at + entity.length;
                break;
            }
        }
        out.append(decoded);
        done = next;
        at = text.find('&', done);
    }
    out.append(text.data() + done, text.length() - done);
    return out;
}

// ---------------------------------------------------------------------------------------------
// ElementValueReader

void ElementValueReader::read(void*, int) {
    raise();
}
void ElementValueReader::read(Buffer&, int) {
    raise();
}
int ElementValueReader::available() {
    raise();
    return 0;
}
int ElementValueReader::position() {
    raise();
    return 0;
}
void ElementValueReader::seek(int) {
    raise();
}

void ElementValueReader::read(ISerialize& object) {
    object.read(static_cast<IKeyReader&>(*this));
}

String ElementValueReader::valueText() {
    if (!m_element)
        raise();
    Node* text = m_element->firstText();
    if (!text)
        return String();
    return m_entities == TextEntities::kDecode ? decodeTextEntities(text->value()) : text->value();
}

void ElementValueReader::read(Buffer& data) {
    data = base64Decode(valueText());
}
void ElementValueReader::read(String& text) {
    text = valueText();
}

void ElementValueReader::read(char& value) {
    value = valueText().charAt(0);
}
void ElementValueReader::read(unsigned char& value) {
    value = static_cast<unsigned char>(valueText().charAt(0));
}

void ElementValueReader::read(bool& value) {
    String text = valueText().toLower();
    if (text == "true" || text == "yes" || text == "on") {
        value = true;
    } else if (text == "false" || text == "no" || text == "off") {
        value = false;
    } else {
        log(0, m_logName, "read", "cannot read boolean");
        raise();
    }
}

void ElementValueReader::read(int& value) {
    value = static_cast<int>(valueText().toLong());
}
void ElementValueReader::read(short& value) {
    value = static_cast<short>(valueText().toLong());
}
void ElementValueReader::read(unsigned int& value) {
    value = static_cast<unsigned int>(valueText().toInt());
}
void ElementValueReader::read(unsigned short& value) {
    value = static_cast<unsigned short>(valueText().toInt());
}

bool ElementValueReader::hasAttribute(const char* name) {
    if (!m_element)
        raise();
    return m_element->findAttribute(String(name)) != nullptr;
}

String ElementValueReader::getAttribute(const char* name) {
    if (!m_element)
        raise();
    Attribute* attribute = m_element->findAttribute(String(name));
    return attribute ? attribute->value().text() : String();
}

// ---------------------------------------------------------------------------------------------
// KeyReader

KeyReader::KeyReader(Element* element, TextEntities entities)
    : ElementValueReader(element, entities, "xml.KeyReader") {}

KeyReader::~KeyReader() = default;

void KeyReader::raise() const {
    TESSEL_THROW(xml::EKeyReader);
}

void KeyReader::bind(Element* element) {
    m_element = element;
    m_lastTaken = nullptr;
}

Element* KeyReader::findKey(const String& key) const {
    if (!m_element)
        TESSEL_THROW(xml::EKeyReader);
    Node* node = m_element->firstChild();
    if (m_lastTaken && m_lastTaken->nameView().equalsIgnoreCase(key))
        node = m_lastTaken->next();
    for (; node; node = node->next()) {
        if (node->type() == kElementNode && !node->consumed() &&
            static_cast<Element*>(node)->nameView().equalsIgnoreCase(key)) {
            return static_cast<Element*>(node);
        }
    }
    return nullptr;
}

int KeyReader::count(const String& key) {
    if (!m_element)
        TESSEL_THROW(xml::EKeyReader);
    int n = 0;
    for (Node* node = m_element->firstChild(); node; node = node->next()) {
        if (node->type() == kElementNode && !node->consumed() &&
            static_cast<Element*>(node)->nameView().equalsIgnoreCase(key)) {
            ++n;
        }
    }
    return n;
}

bool KeyReader::hasKey(const String& key) {
    return findKey(key) != nullptr;
}

IKeyReader* KeyReader::getKey(const String& key) {
    Element* found = findKey(key);
    if (!found)
        TESSEL_THROW(xml::EKeyReader);
    found->setConsumed(true);
    m_lastTaken = found;
    if (!m_child)
        m_child = std::make_unique<KeyReader>(nullptr, m_entities);
    m_child->bind(found);
    return m_child.get();
}

// ---------------------------------------------------------------------------------------------
// ParserReader

namespace {

std::unique_ptr<Element> parseFile(const String& path) {
    if (!isFile(path))
        TESSEL_THROW(xml::EParserReader);
    String text = readAllFile(path);
    std::unique_ptr<Element> root = StringParser::parse(text);
    if (!root) {
        log(0, "xml.ParserReader", "ParserReader", "cannot parse the file: " + path);
        TESSEL_THROW(xml::EParserReader);
    }
    return root;
}

}  // namespace

ParserReader::ParserReader(const String& path, TextEntities entities)
    : ParserReader(parseFile(path), entities) {}

ParserReader::ParserReader(std::unique_ptr<Element> root, TextEntities entities)
    : ElementValueReader(root.get(), entities, "xml.ParserReader"),
      m_root(std::move(root)),
      m_reader(m_root.get(), entities) {}

ParserReader::~ParserReader() = default;

void ParserReader::raise() const {
    TESSEL_THROW(xml::EParserReader);
}

bool ParserReader::rootMatches(const String& key) {
    if (!m_root)
        TESSEL_THROW(xml::EParserReader);
    return m_root->nameView().equalsIgnoreCase(key);
}

int ParserReader::count(const String& key) {
    return rootMatches(key) ? 1 : 0;
}
bool ParserReader::hasKey(const String& key) {
    return rootMatches(key);
}

IKeyReader* ParserReader::getKey(const String& key) {
    if (!rootMatches(key))
        TESSEL_THROW(xml::EParserReader);
    return &m_reader;
}

}  // namespace xml
}  // namespace tessel
