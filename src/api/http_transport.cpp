#include "http_transport.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace brindlewick::api::detail {
namespace {

constexpr long kTimeoutSeconds = 120;
const QString kCancelledText = QStringLiteral("취소됨");
// The chat connection words a TLS failure the same way.
const QString kTlsFailedText = QStringLiteral("보안 연결에 실패했습니다: %1");

bool isTlsFailure(CURLcode code) {
    switch (code) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return true;
    default:
        return false;
    }
}

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
    CURL* curl = nullptr;
    const BodySink* sink = nullptr;
    long status = -1; // known at the first piece of body
    QByteArray errorBody;
    bool sinkFailed = false;
    bool errorTooLarge = false;
};

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* cancelled = static_cast<const std::atomic<bool>*>(user);
    return cancelled->load(std::memory_order_relaxed) ? 1 : 0;
}

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    if (t->status < 0)
        curl_easy_getinfo(t->curl, CURLINFO_RESPONSE_CODE, &t->status);
    // An exception must not cross libcurl's C frames: it ends the transfer instead.
    try {
        if (t->status >= 200 && t->status <= 299) {
            if (!(*t->sink)(data, n)) {
                t->sinkFailed = true;
                return 0;
            }
            return n;
        }
        // An error's text is only shown: the rest of a longer one is not worth reading.
        if (qint64(n) > Limits::kErrorTextBytes - t->errorBody.size()) {
            t->errorTooLarge = true;
            return 0;
        }
        t->errorBody.append(data, qsizetype(n));
        return n;
    } catch (...) {
        t->sinkFailed = true;
        return 0;
    }
}

QByteArray baseAddress(const ServerConfig& config) {
    QByteArray host = QByteArray::fromStdString(config.host);
    if (host.contains(':')) // an IPv6 literal
        host = '[' + host + ']';
    return (config.tls ? "https://" : "http://") + host + ':' + QByteArray::number(config.httpPort);
}

} // namespace

Result perform(const ServerConfig& config, const QString& method, const QString& path,
               const std::optional<QByteArray>& body, const QString& contentType,
               const BodySink& sink, const Limits& limits) {
    initCurlOnce();
    Result result;
    if (limits.cancelled && limits.cancelled->load()) {
        result.transportError = kCancelledText;
        return result;
    }
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl) {
        result.transportError = QString::fromUtf8(curl_easy_strerror(CURLE_OUT_OF_MEMORY));
        return result;
    }
    CURL* h = curl.get();
    const QByteArray url = baseAddress(config) + path.toUtf8();
    const QByteArray methodBytes = method.toUtf8();

    curl_slist* headers = nullptr;
    // Without a given type libcurl would add its form type to every body.
    const QByteArray typeHeader = "Content-Type: " + contentType.toUtf8();
    headers = curl_slist_append(headers,
                                contentType.isEmpty() ? "Content-Type:" : typeHeader.constData());
    // The server never sends "100 Continue"; waiting for it stalls every chunk.
    headers = curl_slist_append(headers, "Expect:");
    // A server that claims phones for their device takes requests for this phone only with it.
    const std::string secret = config.deviceSecret ? config.deviceSecret->get() : std::string();
    const std::string authorization = "Authorization: Bearer " + secret;
    if (!secret.empty())
        headers = curl_slist_append(headers, authorization.c_str());
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerList(headers,
                                                                           &curl_slist_free_all);

    Transfer t;
    t.curl = h;
    t.sink = &sink;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L); // used from several threads
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, kTimeoutSeconds);
    // An idle limit, not a cap on the whole transfer: large files may take longer.
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kTimeoutSeconds);
    if (limits.totalSeconds > 0)
        curl_easy_setopt(h, CURLOPT_TIMEOUT, limits.totalSeconds);
    // Refuses an announced length above the limit before any of the body arrives.
    if (limits.maxBodyBytes > 0)
        curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(limits.maxBodyBytes));
    if (limits.cancelled) {
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &onProgress);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(limits.cancelled));
    }
    if (config.tls && !config.caFile.empty()) {
        // A private CA in place of the system's store, as on the chat connection.
        curl_easy_setopt(h, CURLOPT_CAINFO, config.caFile.c_str());
        curl_easy_setopt(h, CURLOPT_CAPATH, nullptr);
    }
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 256L * 1024L);
    if (body) {
        // libcurl writes the one Content-Length from this size.
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body->size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, body->constData());
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, methodBytes.constData());
    } else if (method == QLatin1String("GET")) {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, methodBytes.constData());
    }

    const CURLcode code = curl_easy_perform(h);
    if (t.sinkFailed) {
        result.outcome = Outcome::SinkFailed;
        return result;
    }
    if (code == CURLE_FILESIZE_EXCEEDED || t.errorTooLarge) {
        result.transportError = kTooLargeText;
        return result;
    }
    if (code == CURLE_ABORTED_BY_CALLBACK) {
        result.transportError = kCancelledText;
        return result;
    }
    if (code != CURLE_OK) {
        result.transportError =
            QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(code));
        if (isTlsFailure(code))
            result.transportError = kTlsFailedText.arg(result.transportError);
        return result;
    }
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.status);
    if (result.status >= 200 && result.status <= 299) {
        result.outcome = Outcome::Success;
    } else {
        result.outcome = Outcome::HttpStatus;
        result.errorBody = std::move(t.errorBody);
    }
    return result;
}

QString statusText(long status, const QByteArray& body) {
    return QStringLiteral("HTTP ") + QString::number(status) + u' ' +
           decodeUtf8(body).value_or(QString());
}

} // namespace brindlewick::api::detail
