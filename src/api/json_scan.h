#pragma once
// The system's own JSON handling: bodies are filled templates, answers are scanned one key at
// a time (a scanner, not a parser). A lookup takes the first textual occurrence of the quoted
// key, at any depth and even where it stands as a value; callers narrow the blob they pass.
// Stateless; safe to call from several threads at once.

#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <optional>

namespace brindlewick::json {

// Text safe to place between double quotes in a JSON body. Never null.
QString escape(const QString& text);
// String value that follows the first occurrence of "key" in blob, escapes decoded.
// nullopt when the key is missing or the value is not a string.
std::optional<QString> stringValue(QStringView key, QStringView blob);
// Non-negative integer value that follows "key"; 0 when missing or not bare digits.
qint64 intValue(QStringView key, QStringView blob);

} // namespace brindlewick::json
