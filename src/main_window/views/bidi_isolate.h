#pragma once
// Names from the server drawn among other text: a nickname, title or file name holding
// right-to-left letters or direction controls (U+202E, ...) must not reorder what stands around
// it. Unicode bidirectional isolation keeps each name to itself.

#include <QString>
#include <QStringView>

namespace brindlewick {

inline constexpr char16_t kFirstStrongIsolate = 0x2068;    // FSI
inline constexpr char16_t kPopDirectionalIsolate = 0x2069; // PDI

// `name` between FSI and PDI when it holds anything that could move other text (right-to-left
// letters, Arabic digits, direction controls, separators), with its own controls balanced
// inside; any other name as it is. Isolate each name before it is put among other text.
QString isolated(const QString& name);
// `text` with closers that close nothing dropped, what it leaves open closed at its end, and
// paragraph separators (which would end an isolate early) made spaces. For text cut short.
QString balancedBidi(QStringView text);
// The closers of what `text` leaves open, innermost first: written after it, what follows keeps
// its own direction.
QString bidiClosers(QStringView text);

} // namespace brindlewick
