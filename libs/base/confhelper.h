// IConf, the base of configuration objects that are only ever read from a keyed document,
// and ConfReadHelper, which reads their keys with one policy: a mandatory key that is absent
// or unreadable raises EConfMissingKey after a log line; an optional one reports false.
#pragma once

#include "base/exception.h"
#include "base/serialize.h"

namespace tessel {

class IConf : public ISerialize {
public:
    // Fills the object from `reader`, normally with ConfReadHelper calls.
    virtual void readConf(IKeyReader* reader) = 0;

    void read(IKeyReader& reader) override { readConf(&reader); }
    void read(IReader& reader) override;
    void write(IKeyWriter& writer) override;
    void write(IWriter& writer) override;
};

class ConfReadHelper {
public:
    // A helper over `reader`; `present` false marks a section that is missing.
    explicit ConfReadHelper(IKeyReader* reader, bool present = true)
        : m_reader(reader), m_present(present && reader != nullptr) {}

    bool isPresent() const { return m_present; }
    IKeyReader* reader() const { return m_reader; }

    // True when the key was read. An unreadable key is logged; an absent or unreadable
    // mandatory key raises EConfMissingKey. An absent optional key leaves `value` untouched.
    bool readKey(const char* key, bool& value, bool mandatory);
    bool readKey(const char* key, int& value, bool mandatory);
    bool readKey(const char* key, unsigned int& value, bool mandatory);
    bool readKey(const char* key, String& value, bool mandatory);
    bool readKey(const char* key, ISerialize& value, bool mandatory);

    // The sub-section `key`: flagged missing when absent and optional (so that its own keys
    // may stay mandatory inside it); EConfMissingKey when absent and mandatory.
    ConfReadHelper readKey(const char* key, bool mandatory);

private:
    template <class T>
    bool readValue(const char* key, T& value, bool mandatory);

    IKeyReader* m_reader;
    bool m_present;
};

}  // namespace tessel
