#pragma once

#include <QString>
#include <QStringList>

namespace brindlewick {

// How a ChatClient reports to its owner. Every callback has an empty default,
// so an owner implements only what it needs.
class ChatClientDelegate {
public:
    virtual ~ChatClientDelegate() = default;
    virtual void chatClientDidConnect() {}
    virtual void chatClientDidDisconnect(const QString& reason) { Q_UNUSED(reason); }
    virtual void chatClientDidReceiveType(quint8 type, const QStringList& fields) {
        Q_UNUSED(type);
        Q_UNUSED(fields);
    }
};

} // namespace brindlewick
