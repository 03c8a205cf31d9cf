#include "base/confhelper.h"

#include "base/console.h"

namespace tessel {
namespace {

[[noreturn]] void missingKey(const char* key) {
    String text;
    text.appendAll("Missing tag: <", key, '>');
    log(2, "ConfReadHelper", "readKey", text);
    TESSEL_THROW(EConfMissingKey);
}

}  // namespace

void IConf::read(IReader&) {
    TESSEL_THROW(ENotImplemented);
}
void IConf::write(IKeyWriter&) {
    TESSEL_THROW(ENotImplemented);
}
void IConf::write(IWriter&) {
    TESSEL_THROW(ENotImplemented);
}

template <class T>
bool ConfReadHelper::readValue(const char* key, T& value, bool mandatory) {
    if (m_present && m_reader->hasKey(key)) {
        try {
            IKeyReader* child = m_reader->getKey(key);
            child->read(value);
            return true;
        } catch (const Exception& e) {
            TESSEL_LOG_CATCH(e);
            String text;
            text.appendAll("Error while reading key: \"", key, '"');
            log(2, "ConfReadHelper", "readKey", text);
            if (mandatory)
                TESSEL_THROW(EConfMissingKey);
            return false;
        }
    }
    if (mandatory)
        missingKey(key);
    return false;
}

bool ConfReadHelper::readKey(const char* key, bool& value, bool mandatory) {
    return readValue(key, value, mandatory);
}
bool ConfReadHelper::readKey(const char* key, int& value, bool mandatory) {
    return readValue(key, value, mandatory);
}
bool ConfReadHelper::readKey(const char* key, unsigned int& value, bool mandatory) {
    return readValue(key, value, mandatory);
}
bool ConfReadHelper::readKey(const char* key, String& value, bool mandatory) {
    return readValue(key, value, mandatory);
}
bool ConfReadHelper::readKey(const char* key, ISerialize& value, bool mandatory) {
    return readValue(key, value, mandatory);
}

ConfReadHelper ConfReadHelper::readKey(const char* key, bool mandatory) {
    if (m_present && m_reader->hasKey(key))
        return ConfReadHelper(m_reader->getKey(key), true);
    if (mandatory)
        missingKey(key);
    return ConfReadHelper(nullptr, false);
}

}  // namespace tessel
