#pragma once
// Where the chat server and its HTTP API live. Built-in defaults; the command line may override.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace brindlewick {

// The device secret of the signed-in phone on a server that claims phones for their device.
// Set on the GUI thread when the server hands one out; read by the sign-in and by every HTTP
// request, on whichever thread makes it.
class DeviceSecret {
public:
    explicit DeviceSecret(std::string value = {}) : value_(std::move(value)) {}
    std::string get() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return value_;
    }
    void set(std::string value) {
        std::lock_guard<std::mutex> lock(mutex_);
        value_ = std::move(value);
    }

private:
    mutable std::mutex mutex_;
    std::string value_;
};

struct ServerConfig {
    std::string host = "127.0.0.1";
    std::uint16_t chatPort = 9000;
    std::uint16_t httpPort = 9001;
    // TLS on both connections (https for the API), checked against the system's certificate
    // store, or against caFile alone when it is set.
    bool tls = false;
    std::string caFile;
    // Shared by every copy of one sign-in's settings; null or empty: none is sent.
    std::shared_ptr<DeviceSecret> deviceSecret;
};

} // namespace brindlewick
