#pragma once

#include "chat_protocol.h"

#include <QString>

namespace brindlewick {

// The one owner a ChatClient reports to. Every callback has an empty default, so an owner
// implements only what it needs. A callback may reconnect or destroy the client.
class ChatClientListener {
public:
    virtual ~ChatClientListener() = default;
    virtual void chatConnected() {}
    virtual void chatDisconnected(const QString& reason) { Q_UNUSED(reason); }
    // Fields are UTF-8, as the codec cut them; the typed messages decode them.
    virtual void frameReceived(quint8 type, const FieldList& fields) {
        Q_UNUSED(type);
        Q_UNUSED(fields);
    }
};

} // namespace brindlewick
