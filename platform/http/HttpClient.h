#pragma once

#include "platform/Cancellation.h"
#include "platform/Error.h"

#include <QByteArray>
#include <QCoroTask>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

class QNetworkAccessManager;

namespace jw {

// Header fields in the order they are sent.
using HttpHeaders = QList<QPair<QByteArray, QByteArray>>;

enum class HttpValidation
{
    // 200..<300.
    StatusCode,
    // 200..<300, and a non-empty body's Content-Type must match the request's Accept ("*/*" when absent).
    StatusCodeAndContentType,
};

struct HttpResponse
{
    int statusCode = 0;
    QByteArray contentType;
    QByteArray body;
};

// Case names of the errors of this layer; their domain is HttpClient::kErrorDomain.
namespace HttpErrorCase {
inline const QString invalidURL = QStringLiteral("invalidURL");
inline const QString invalidHeader = QStringLiteral("invalidHeader");
inline const QString sessionTaskFailed = QStringLiteral("sessionTaskFailed");
inline const QString timedOut = QStringLiteral("timedOut");
inline const QString explicitlyCancelled = QStringLiteral("explicitlyCancelled");
inline const QString responseTooLarge = QStringLiteral("responseTooLarge");
inline const QString tooManyRedirects = QStringLiteral("tooManyRedirects");
inline const QString responseValidationFailed = QStringLiteral("responseValidationFailed");
inline const QString responseSerializationFailed = QStringLiteral("responseSerializationFailed");
} // namespace HttpErrorCase

// JSON POST requests over the process's one QNetworkAccessManager, on the GUI thread.
//
// Redirects are followed only to the same scheme, host and port, and only for 307 and 308 (which
// keep the method and body); any other redirect answer is handed back as a status failure, so the
// Authorization header never reaches another origin and a POST is never turned into a GET.
class HttpClient
{
public:
    static inline const QString kErrorDomain = QStringLiteral("HttpError");
    static constexpr qint64 kMaxResponseBytes = 16 * 1024 * 1024;
    static constexpr int kMaxRedirects = 16;
    static constexpr std::chrono::milliseconds kDefaultInactivityTimeout{60'000};

    static QByteArray userAgent();
    static QNetworkAccessManager* networkAccessManager();

    // A request fails with timedOut when nothing moves on it for this long. Test seam.
    static void setInactivityTimeout(std::chrono::milliseconds timeout);
    static std::chrono::milliseconds inactivityTimeout();

    // Sends `body` as compact JSON; adds "Content-Type: application/json" after `headers` when
    // they hold none. Cancelling `cancellation` aborts the request (explicitlyCancelled).
    static QCoro::Task<Expected<HttpResponse>> postJson(QUrl url,
                                                        QJsonObject body,
                                                        HttpHeaders headers,
                                                        HttpValidation validation,
                                                        std::optional<CancellationToken> cancellation = std::nullopt);

    static Error
    makeError(const QString& caseName, const QString& description, std::optional<int> responseCode = std::nullopt);

    // What an answer outside 200..<300 means, in words shown as they are: the cause and the
    // status, never the address. Where the status leaves the cause open, GitHub's own message
    // from `body` follows, on the same line and cut short.
    static QString statusFailureDescription(int status, const QByteArray& body);
};

} // namespace jw
