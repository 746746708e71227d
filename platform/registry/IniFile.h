#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <optional>

// Initialisation file contents: "[section]" lines, each followed by
// "entry=text" lines. Section and entry names match without regard to case;
// lines starting with ";" are comments. Texts are in the locale's encoding.
namespace IniFile
{

// The text of an entry, without the blanks around it and without one pair of
// enclosing quotes; nothing when the entry is missing.
std::optional<QString> entry(const QByteArray &contents, QStringView section, QStringView entry);

// The contents with the entry set to `text`: its line is replaced, or a line is
// added after the last one of its section, or the section is added at the end.
// Every other line stays byte for byte, line ends included. Nothing when the
// lines written would not read back as that section and entry: a line break
// in any of the three texts, a ']' in the section, an '=' in the entry, blanks
// around a name, an entry that would read as a comment or as a section.
std::optional<QByteArray> withEntry(const QByteArray &contents, QStringView section,
                                    QStringView entry, QStringView text);

} // namespace IniFile
