#include "platform/registry/RegistryDocument.h"
#include "platform/registry/Registry.h"

#include <QStringDecoder>
#include <QtEndian>
#include <algorithm>
#include <array>

namespace
{

struct RootKey {
    std::uint32_t handle;
    QLatin1StringView name;
};

constexpr std::array<RootKey, 6> rootKeys{{
    {Registry::HKEY_CLASSES_ROOT, QLatin1StringView("HKEY_CLASSES_ROOT")},
    {Registry::HKEY_CURRENT_USER, QLatin1StringView("HKEY_CURRENT_USER")},
    {Registry::HKEY_LOCAL_MACHINE, QLatin1StringView("HKEY_LOCAL_MACHINE")},
    {Registry::HKEY_USERS, QLatin1StringView("HKEY_USERS")},
    {Registry::HKEY_CURRENT_CONFIG, QLatin1StringView("HKEY_CURRENT_CONFIG")},
    {Registry::HKEY_DYN_DATA, QLatin1StringView("HKEY_DYN_DATA")},
}};

constexpr QLatin1StringView fileHeader("REGEDIT4");
constexpr QLatin1StringView dwordPrefix("dword:");
constexpr QLatin1StringView binaryPrefix("hex:");
constexpr QLatin1StringView typedPrefix("hex(");

bool sameName(QAnyStringView a, QAnyStringView b)
{
    return QAnyStringView::compare(a, b, Qt::CaseInsensitive) == 0;
}

// The form in which names are looked up. QString::toCaseFolded() folds each
// character as the comparison without regard to case does, so two names are
// the same name exactly when their folded forms are equal.
QString folded(QStringView name)
{
    return name.toString().toCaseFolded();
}

// A path from a key line, with its root key's name as the table spells it;
// nothing when it names no root key or has an empty part.
std::optional<QString> normalisedPath(QStringView path)
{
    QStringList parts = path.toString().split(QLatin1Char('\\'));
    const auto root = std::find_if(rootKeys.begin(), rootKeys.end(), [&](const RootKey &key) {
        return sameName(key.name, parts.first());
    });
    if (root == rootKeys.end() || parts.contains(QString()))
        return std::nullopt;
    parts.first() = root->name;
    return parts.join(QLatin1Char('\\'));
}

QString quoted(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

// Reads a quoted text at the start of `line` and moves `line` past it.
std::optional<QString> takeQuoted(QStringView &line)
{
    if (!line.startsWith(QLatin1Char('"')))
        return std::nullopt;
    QString text;
    for (qsizetype i = 1; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == QLatin1Char('"')) {
            line = line.mid(i + 1);
            return text;
        }
        if (c == QLatin1Char('\\')) {
            if (++i == line.size() || (line[i] != QLatin1Char('\\') && line[i] != QLatin1Char('"')))
                return std::nullopt;
            text += line[i];
        } else {
            text += c;
        }
    }
    return std::nullopt;
}

std::optional<std::uint32_t> hexNumber(QStringView digits, qsizetype maxDigits)
{
    bool ok = false;
    const std::uint32_t number = digits.toUInt(&ok, 16);
    // toUInt allows a sign and blanks; the file has bare hex digits only.
    const bool bare = std::all_of(digits.begin(), digits.end(), [](QChar c) {
        const char16_t lower = c.toLower().unicode();
        return (lower >= u'0' && lower <= u'9') || (lower >= u'a' && lower <= u'f');
    });
    if (!ok || !bare || digits.size() > maxDigits)
        return std::nullopt;
    return number;
}

std::optional<QByteArray> hexBytes(QStringView list)
{
    QByteArray bytes;
    if (list.trimmed().isEmpty())
        return bytes;
    for (QStringView item : list.split(QLatin1Char(','))) {
        const auto byte = hexNumber(item.trimmed(), 2);
        if (!byte)
            return std::nullopt;
        bytes.append(static_cast<char>(*byte));
    }
    return bytes;
}

QString hexList(const QByteArray &bytes)
{
    QStringList items;
    for (const char byte : bytes)
        items.append(
            QStringLiteral("%1").arg(static_cast<unsigned char>(byte), 2, 16, QLatin1Char('0')));
    return items.join(QLatin1Char(','));
}

// The data after the "=" of a value line.
std::optional<RegistryDocument::StoredValue> parseData(QStringView data)
{
    RegistryDocument::StoredValue value;
    if (data.startsWith(QLatin1Char('"'))) {
        const auto text = takeQuoted(data);
        if (!text || !data.isEmpty())
            return std::nullopt;
        value.type = Registry::REG_SZ;
        value.data = text->toLocal8Bit() + '\0';
        return value;
    }
    if (data.startsWith(dwordPrefix)) {
        const auto number = hexNumber(data.mid(dwordPrefix.size()), 8);
        if (!number)
            return std::nullopt;
        value.type = Registry::REG_DWORD;
        value.data = QByteArray(4, '\0');
        qToLittleEndian(*number, value.data.data());
        return value;
    }
    std::optional<std::uint32_t> type;
    if (data.startsWith(binaryPrefix)) {
        type = Registry::REG_BINARY;
        data = data.mid(binaryPrefix.size());
    } else if (data.startsWith(typedPrefix)) {
        const qsizetype close = data.indexOf(QLatin1String("):"));
        if (close < 0)
            return std::nullopt;
        type = hexNumber(data.mid(typedPrefix.size(), close - typedPrefix.size()), 8);
        data = data.mid(close + 2);
    }
    const auto bytes = hexBytes(data);
    if (!type || !bytes)
        return std::nullopt;
    value.type = *type;
    value.data = *bytes;
    return value;
}

std::optional<RegistryDocument::StoredValue> parseValueLine(QStringView line)
{
    QString name;
    if (line.startsWith(QLatin1Char('@'))) {
        line = line.mid(1);
    } else {
        const auto quotedName = takeQuoted(line);
        if (!quotedName)
            return std::nullopt;
        name = *quotedName;
    }
    if (!line.startsWith(QLatin1Char('=')))
        return std::nullopt;
    auto value = parseData(line.mid(1));
    if (value)
        value->name = name;
    return value;
}

// The text a REG_SZ value holds, when writing it as text gives back its exact bytes.
std::optional<QString> plainText(const RegistryDocument::StoredValue &value)
{
    if (value.type != Registry::REG_SZ || !value.data.endsWith('\0'))
        return std::nullopt;
    const QByteArray bytes = value.data.chopped(1);
    const QString text = QString::fromLocal8Bit(bytes);
    const bool printable =
        std::none_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x20; });
    if (!printable || text.toLocal8Bit() != bytes)
        return std::nullopt;
    return text;
}

QString dataText(const RegistryDocument::StoredValue &value)
{
    if (const auto text = plainText(value))
        return quoted(*text);
    if (value.type == Registry::REG_DWORD && value.data.size() == 4)
        return dwordPrefix +
               QStringLiteral("%1").arg(qFromLittleEndian<std::uint32_t>(value.data.constData()), 8,
                                        16, QLatin1Char('0'));
    if (value.type == Registry::REG_BINARY)
        return binaryPrefix + hexList(value.data);
    return typedPrefix + QString::number(value.type, 16) + QLatin1String("):") +
           hexList(value.data);
}

} // namespace

QString RegistryDocument::rootKeyName(std::uint32_t root)
{
    const auto key = std::find_if(rootKeys.begin(), rootKeys.end(), [&](const RootKey &candidate) {
        return candidate.handle == root;
    });
    return key == rootKeys.end() ? QString() : QString(key->name);
}

bool RegistryDocument::isStorableName(QStringView name)
{
    return std::none_of(name.begin(), name.end(), [](QChar c) { return c.unicode() < 0x20; });
}

std::optional<RegistryDocument> RegistryDocument::parse(const QByteArray &file)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(file);
    if (utf8.hasError())
        return std::nullopt;

    RegistryDocument document;
    bool headerSeen = false;
    QString currentKey;
    for (QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (!headerSeen) {
            if (line != fileHeader)
                return std::nullopt;
            headerSeen = true;
        } else if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            const auto path = normalisedPath(line.mid(1, line.size() - 2));
            if (!path)
                return std::nullopt;
            currentKey = *path;
            document.createKey(currentKey);
        } else {
            const auto value = parseValueLine(line);
            if (!value || currentKey.isEmpty())
                return std::nullopt;
            document.setValue(currentKey, *value);
        }
    }
    return document;
}

QByteArray RegistryDocument::serialize() const
{
    QString text = fileHeader + QLatin1String("\n\n");
    for (const Key &key : keys_) {
        text += QLatin1Char('[') + key.path + QLatin1String("]\n");
        for (const StoredValue &value : key.values) {
            text += value.name.isEmpty() ? QStringLiteral("@") : quoted(value.name);
            text += QLatin1Char('=') + dataText(value) + QLatin1Char('\n');
        }
        text += QLatin1Char('\n');
    }
    return text.toUtf8();
}

bool RegistryDocument::hasKey(QStringView path) const
{
    return !path.contains(QLatin1Char('\\')) || findKey(path) != nullptr;
}

bool RegistryDocument::createKey(QStringView path)
{
    const QList<QStringView> parts = path.split(QLatin1Char('\\'));
    QString parent = parts.first().toString();
    bool created = false;
    // Parents first, so that the file lists every key below its parent; a key
    // that exists keeps the case it was created with.
    for (QStringView part : parts.mid(1)) {
        const QString child = parent + QLatin1Char('\\') + part.toString();
        if (const Key *existing = findKey(child)) {
            parent = existing->path;
        } else {
            appendKey(child);
            parent = child;
            created = true;
        }
    }
    return created;
}

const RegistryDocument::StoredValue *RegistryDocument::value(QStringView keyPath,
                                                             QStringView name) const
{
    const Key *key = findKey(keyPath);
    if (!key)
        return nullptr;
    const qsizetype index = key->valuesByName.value(folded(name), -1);
    return index < 0 ? nullptr : &key->values[index];
}

void RegistryDocument::setValue(QStringView keyPath, const StoredValue &value)
{
    Key &key = keyAt(keyPath);
    const QString name = folded(value.name);
    const qsizetype index = key.valuesByName.value(name, -1);
    if (index < 0) {
        key.valuesByName.insert(name, key.values.size());
        key.values.append(value);
        return;
    }
    key.values[index].type = value.type;
    key.values[index].data = value.data;
}

qsizetype RegistryDocument::keyIndex(QStringView path) const
{
    return keysByPath_.value(folded(path), -1);
}

void RegistryDocument::appendKey(const QString &path)
{
    keysByPath_.insert(folded(path), keys_.size());
    keys_.append({path, {}, {}});
}

const RegistryDocument::Key *RegistryDocument::findKey(QStringView path) const
{
    const qsizetype index = keyIndex(path);
    return index < 0 ? nullptr : &keys_[index];
}

RegistryDocument::Key &RegistryDocument::keyAt(QStringView path)
{
    createKey(path);
    qsizetype index = keyIndex(path);
    if (index < 0) {
        // A root key is listed only once something is stored in it.
        appendKey(path.toString());
        index = keys_.size() - 1;
    }
    return keys_[index];
}
