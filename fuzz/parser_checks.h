#pragma once

// Properties that the two file parsers keep for any input at all. The fuzz
// targets check them on generated inputs; test_parser_inputs checks them on
// every input kept in this folder, so an input that once broke a parser keeps
// being tried by `make test`.

#include <QByteArray>
#include <QString>
#include <optional>

// The input is a registry store file. Nothing when the parser kept its
// properties, otherwise which one it broke.
std::optional<QString> checkRegistryFile(const QByteArray &file);

// The input is five fields, each ended by a NUL byte: the section, entry and
// text to write, and the section and entry of another entry to read before
// and after; the contents of an initialisation file follow. Nothing when the
// reader and the writer kept their properties, otherwise which one they broke.
std::optional<QString> checkIniFile(const QByteArray &input);
