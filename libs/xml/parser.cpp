#include "xml/parser.h"

#include "base/console.h"
#include "base/exception.h"
#include "base/file.h"
#include "base/thread.h"
#include "xml/writerkeywriter.h"

namespace tessel {
namespace xml {

std::unique_ptr<Element> StringParser::parse(const String& text) {
    // The tree keeps slices of the text: make sure they point into counted storage.
    String source = text.hasStorage() ? text : text.copy();
    uint32_t p = 0;
    // The last search for "-->" (from, found): comments that end in "-- >" would otherwise each
    // search the rest of the document for a "-->" that is not there.
    uint32_t arrowFrom = String::npos;
    uint32_t arrow = String::npos;
    for (;;) {
        uint32_t lt = source.find('<', p);
        if (lt == String::npos)
            TESSEL_THROW(xml::EXmlStringParser);
        if (source.find("<!--", lt, lt + 4) == lt) {
            // The ends that Comment::parse looks for, in its order.
            uint32_t from = lt + 4;
            if (arrowFrom == String::npos || from < arrowFrom ||
                (arrow != String::npos && from > arrow)) {
                arrowFrom = from;
                arrow = source.find("-->", from);
            }
            uint32_t spaced = arrow == String::npos ? source.find("-- >", from) : String::npos;
            if (arrow != String::npos) {
                p = arrow + 3;
            } else if (spaced != String::npos) {
                p = spaced + 4;
            } else {
                Comment comment;
                p = comment.parse(source, lt);  // logs and raises EXmlComment
            }
            continue;
        }
        if (source.find("<?xml", lt, lt + 5) == lt) {
            uint32_t close = source.find("?>", lt + 5);
            if (close == String::npos)
                TESSEL_THROW(xml::EXmlStringParser);
            p = close + 2;
            continue;
        }
        uint32_t nameEnd = source.findFirstOf(" \r\n\t/>", lt + 1);
        if (nameEnd == String::npos)
            TESSEL_THROW(xml::EXmlStringParser);
        auto root = std::make_unique<Element>(source.substring(lt + 1, nameEnd - lt - 1).trim());
        root->setStartOffset(lt);
        root->parse(source, nameEnd);
        return root;
    }
}

namespace {

// Removes the temporary file unless the save went through.
class TemporaryFile {
public:
    explicit TemporaryFile(const String& path) : m_path(path) {}
    ~TemporaryFile() {
        if (m_armed && isFile(m_path)) {
            try {
                deleteFile(m_path);
            } catch (const Exception& e) {
                TESSEL_LOG_CATCH(e);
            }
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const String& path() const { return m_path; }
    void keep() { m_armed = false; }

private:
    String m_path;
    bool m_armed = true;
};

}  // namespace

void XmlParser::save(const String& path, const String& rootName, ISerialize& object) {
    // A name of its own per thread, so that concurrent saves never share a temporary file.
    TemporaryFile temporary(path + ".tmp" + String(currentThreadId()));
    File file;
    if (!file.open(temporary.path(), File::kWrite)) {
        log(2, "XmlParser", "save", "cannot open " + temporary.path() + " to save " + path);
        TESSEL_THROW(xml::EParser);
    }
    try {
        {
            WriterKeyWriter writer(file, String());
            writer.writeKey(rootName)->write(object);
            writer.finish();
        }
        file.sync();
        file.close();
        moveFile(temporary.path(), path);
        temporary.keep();
    } catch (const Exception& e) {
        TESSEL_LOG_CATCH(e);
        file.close();
        log(2, "XmlParser", "save", "cannot save " + path);
        TESSEL_THROW(xml::EParser);
    }
}

}  // namespace xml
}  // namespace tessel
