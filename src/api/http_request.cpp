#include "http_request.h"
#include "http_transport.h"

#include <QStringDecoder>

namespace brindlewick::api {

std::optional<QString> decodeUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

std::optional<QByteArray> request(const ServerConfig& config, const QString& method,
                                  const QString& path, const std::optional<QByteArray>& body,
                                  const QString& contentType, QString* error,
                                  const Limits& limits) {
    QByteArray answer("");
    // Kept in memory: never without a cap. A body without an announced length is counted as
    // it comes.
    Limits capped = limits;
    if (capped.maxBodyBytes <= 0)
        capped.maxBodyBytes = Limits::kAnswerBytes;
    const qint64 maxBytes = capped.maxBodyBytes;
    const detail::BodySink sink = [&answer, maxBytes](const char* data, std::size_t size) {
        if (qint64(size) > maxBytes - answer.size())
            return false;
        answer.append(data, qsizetype(size));
        return true;
    };
    const detail::Result r = detail::perform(config, method, path, body, contentType, sink, capped);
    switch (r.outcome) {
    case detail::Outcome::Success:
        return answer;
    case detail::Outcome::HttpStatus:
        if (error)
            *error = detail::statusText(r.status, r.errorBody);
        return std::nullopt;
    case detail::Outcome::SinkFailed: // past the cap, or out of memory on the way there
        if (error)
            *error = kTooLargeText;
        return std::nullopt;
    default:
        if (error)
            *error = r.transportError;
        return std::nullopt;
    }
}

std::optional<QString> getText(const ServerConfig& config, const QString& path,
                               const Limits& limits) {
    QString error;
    const std::optional<QByteArray> body =
        request(config, QStringLiteral("GET"), path, std::nullopt, QString(), &error, limits);
    if (!body)
        return std::nullopt;
    return decodeUtf8(*body);
}

} // namespace brindlewick::api
