// Whole-document entry points of the XML reader: StringParser turns a text into a tree, and
// XmlParser saves a serialisable object as an XML file.
#pragma once

#include <memory>

#include "base/serialize.h"
#include "base/string.h"
#include "xml/element.h"

namespace tessel {
namespace xml {

class StringParser {
public:
    // The root element of `text` (owned by the caller). Comments and XML declarations before
    // the root are skipped; anything after the root is ignored. The tree shares the text's
    // storage (a text without storage of its own is copied first).
    // Raises EXmlStringParser when there is no element or its name never ends, and the
    // element parser's exceptions otherwise.
    static std::unique_ptr<Element> parse(const String& text);
};

class XmlParser {
public:
    // Writes `object` under the root element `rootName` to the file at `path`, with the
    // keyed writer (WriterKeyWriter) and an empty indentation. The document goes to a
    // temporary file in the same folder, is flushed to the disk and then renamed over `path`,
    // so a failure at any point leaves the previous file as it was.
    // Failures (the file cannot be created, written or renamed, or the object raises) are
    // logged at level 2 and raise EParser.
    static void save(const String& path, const String& rootName, ISerialize& object);
};

}  // namespace xml
}  // namespace tessel
