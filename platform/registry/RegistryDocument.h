#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

// The contents of the registry stand-in's file: keys by their full path, root
// key name first ("HKEY_LOCAL_MACHINE\System\..."), each holding values as a
// type and raw bytes, in file order. Paths and value names match without regard
// to case and keep the case they were created with.
//
// The file is a REGEDIT4 export in UTF-8. A text value is written as "text" when
// its bytes read back exactly from that text, any other data as hex(type):bytes,
// so every value returns byte for byte.
class RegistryDocument
{
public:
    struct StoredValue {
        QString name; // empty for the key's default value, written as @
        std::uint32_t type = 0;
        QByteArray data;
    };

    // Nothing when any line of the file is not understood.
    static std::optional<RegistryDocument> parse(const QByteArray &file);
    QByteArray serialize() const;

    // The name of a predefined root key in the file, or an empty text.
    static QString rootKeyName(std::uint32_t root);
    // Names that can stand in a file line: no control characters.
    static bool isStorableName(QStringView name);

    // A root key alone always exists.
    bool hasKey(QStringView path) const;
    // Creates the key and its missing parents; false when it existed already.
    bool createKey(QStringView path);
    const StoredValue *value(QStringView keyPath, QStringView name) const;
    // Replaces the data and type of a value of that name, or adds the value; a
    // missing key is created.
    void setValue(QStringView keyPath, const StoredValue &value);

private:
    struct Key {
        QString path;
        QList<StoredValue> values;
        QHash<QString, qsizetype> valuesByName; // index in `values` by folded name
    };

    qsizetype keyIndex(QStringView path) const;
    const Key *findKey(QStringView path) const;
    // The key, created when missing.
    Key &keyAt(QStringView path);
    void appendKey(const QString &path);

    QList<Key> keys_;
    // The index in keys_ by folded path: without it, reading a file of many
    // keys or values would search all of them for each of its lines.
    QHash<QString, qsizetype> keysByPath_;
};
