#pragma once

#include <QString>

namespace brindlewick {

// A value made safe to stand as one path segment or one query value: everything but
// letters, digits and "-._~" is percent-encoded, and a lone "." or ".." is encoded too,
// so the value can never step into another resource.
QString urlValue(const QString& value);

} // namespace brindlewick
