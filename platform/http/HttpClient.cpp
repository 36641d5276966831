#include "platform/http/HttpClient.h"

#include <QCoreApplication>
#include <QCoroNetworkReply>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <memory>

namespace jw {
namespace {

std::chrono::milliseconds gInactivityTimeout = HttpClient::kDefaultInactivityTimeout;

enum class AbortReason
{
    None,
    TimedOut,
    Cancelled,
    TooLarge,
};

// Aborts a reply that is still running when its owner goes away (the awaiting coroutine's frame
// is destroyed), so an abandoned request does not keep the connection busy.
struct ReplyDeleter
{
    void operator()(QNetworkReply* reply) const
    {
        if (!reply->isFinished())
            reply->abort();
        reply->deleteLater();
    }
};
using ReplyPtr = std::unique_ptr<QNetworkReply, ReplyDeleter>;

bool isTokenChar(char c)
{
    return c > 0x20 && c < 0x7f && c != ':' && c != '(' && c != ')' && c != ',' && c != ';' && c != '"' && c != '/'
           && c != '[' && c != ']' && c != '?' && c != '=' && c != '{' && c != '}' && c != '\\' && c != '<' && c != '>'
           && c != '@';
}

// A value holding CR or LF would let a caller's text (the token) start a header of its own.
bool isValidHeader(const QByteArray& name, const QByteArray& value)
{
    if (name.isEmpty())
        return false;
    for (char c : name)
        if (!isTokenChar(c))
            return false;
    for (char c : value)
        if (c == '\r' || c == '\n' || c == '\0')
            return false;
    return true;
}

std::optional<QByteArray> headerValue(const HttpHeaders& headers, const QByteArray& name)
{
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return std::nullopt;
}

bool sameOrigin(const QUrl& a, const QUrl& b)
{
    const auto defaultPort = [](const QUrl& u) {
        return u.scheme() == QLatin1String("https") ? 443 : 80;
    };
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0
           && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && a.port(defaultPort(a)) == b.port(defaultPort(b));
}

// Errors that QtNetwork raises because of the HTTP status itself rather than the transport.
bool isStatusDerived(QNetworkReply::NetworkError e)
{
    const int v = static_cast<int>(e);
    return (v >= QNetworkReply::ContentAccessDenied && v <= QNetworkReply::UnknownContentError)
           || e == QNetworkReply::ProtocolInvalidOperationError
           || (v >= QNetworkReply::InternalServerError && v <= QNetworkReply::UnknownServerError);
}

struct MimeType
{
    QByteArray type;
    QByteArray subtype;
    bool isWildcard() const { return type == "*" && subtype == "*"; }
};

std::optional<MimeType> parseMime(const QByteArray& text)
{
    const QByteArray essence = text.split(';').first().trimmed().toLower();
    const qsizetype slash = essence.indexOf('/');
    if (slash <= 0 || slash == essence.size() - 1)
        return std::nullopt;
    return MimeType{essence.left(slash), essence.mid(slash + 1)};
}

std::optional<Error> validateContentType(const HttpHeaders& requestHeaders,
                                         const QByteArray& contentType,
                                         const QByteArray& body,
                                         int status)
{
    if (body.isEmpty())
        return std::nullopt;
    QList<QByteArray> acceptable{"*/*"};
    if (auto accept = headerValue(requestHeaders, "Accept"))
        acceptable = accept->split(',');
    const auto response = parseMime(contentType);
    for (const QByteArray& candidate : acceptable) {
        const auto mime = parseMime(candidate);
        if (!mime)
            continue;
        if (!response) {
            if (mime->isWildcard())
                return std::nullopt;
            continue;
        }
        if ((mime->type == "*" || mime->type == response->type)
            && (mime->subtype == "*" || mime->subtype == response->subtype))
            return std::nullopt;
    }
    QStringList names;
    for (const QByteArray& candidate : acceptable)
        names << QString::fromLatin1(candidate.trimmed());
    const QString description =
        response ? QStringLiteral("Response Content-Type \"%1\" was unacceptable. Acceptable Content-Types: %2.")
                       .arg(QString::fromLatin1(contentType), names.join(QStringLiteral(",")))
                 : QStringLiteral("Response Content-Type was missing and acceptable content types (%1) do not match "
                                  "\"*/*\".")
                       .arg(names.join(QStringLiteral(",")));
    return HttpClient::makeError(HttpErrorCase::responseValidationFailed, description, status);
}

// Some of QtNetwork's texts end in ": " with nothing after it ("Decompression failed: ").
QString transferErrorText(QString text)
{
    text = text.trimmed();
    while (text.endsWith(QLatin1Char(':')))
        text.chop(1);
    return text;
}

QString unreachable(const QString& reason)
{
    return QStringLiteral("GitHub could not be reached: ") + reason;
}

// Why no answer came, in our words where QtNetwork's would name the host or say little.
QString unreachableReason(QNetworkReply::NetworkError error, const QString& qtText)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("connection refused");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("host not found");
    case QNetworkReply::TimeoutError:
        return QStringLiteral("the connection timed out");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("the connection closed");
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return QStringLiteral("no network");
    case QNetworkReply::SslHandshakeFailedError: {
        // QtNetwork says "SSL handshake failed: Error during SSL handshake: <the TLS library's reason>".
        QString detail = transferErrorText(qtText);
        for (const QLatin1String prefix :
             {QLatin1String("SSL handshake failed"), QLatin1String("Error during SSL handshake")}) {
            if (detail.startsWith(prefix))
                detail = detail.mid(prefix.size());
            while (detail.startsWith(QLatin1Char(':')) || detail.startsWith(QLatin1Char(' ')))
                detail.remove(0, 1);
        }
        return detail.isEmpty() ? QStringLiteral("TLS handshake failed")
                                : QStringLiteral("TLS handshake failed: ") + detail;
    }
    default:
        return transferErrorText(qtText);
    }
}

constexpr qsizetype kMaxMessageLength = 200;

// GitHub's "message", then the "message" of each of its "errors", as one line of bounded length.
QString bodyMessage(const QByteArray& body)
{
    const QJsonObject answer = QJsonDocument::fromJson(body).object();
    QStringList reasons;
    for (const QJsonValue& e : answer.value(QLatin1String("errors")).toArray())
        if (const QString m = e.toObject().value(QLatin1String("message")).toString(); !m.isEmpty())
            reasons << m;
    QString text = answer.value(QLatin1String("message")).toString();
    if (!reasons.isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral(": ")) + reasons.join(QStringLiteral("; "));
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    text = text.simplified();
    if (text.size() > kMaxMessageLength) {
        qsizetype keep = kMaxMessageLength - 1;
        if (text.at(keep - 1).isHighSurrogate())
            --keep;
        text = text.left(keep) + QChar(0x2026);
    }
    return text;
}

bool namesARateLimit(const QByteArray& body)
{
    return QJsonDocument::fromJson(body)
        .object()
        .value(QLatin1String("message"))
        .toString()
        .contains(QLatin1String("rate limit"), Qt::CaseInsensitive);
}

// GitHub's answer to too many requests: 403 or 429 with its rate-limit headers or a message that
// names one. A 429 is one by definition.
void classifyRateLimit(Error& error, int status, const QNetworkReply& reply, const QByteArray& body)
{
    if (status != 403 && status != 429)
        return;
    const QByteArray remaining = reply.rawHeader("x-ratelimit-remaining").trimmed();
    const QByteArray retryAfter = reply.rawHeader("retry-after").trimmed();
    const bool primary = remaining == "0";
    if (!primary && retryAfter.isEmpty() && status != 429 && !namesARateLimit(body))
        return;
    error.retry = Error::Retry::afterRateLimit;
    bool ok = false;
    if (const qint64 seconds = retryAfter.toLongLong(&ok); ok && seconds >= 0) {
        error.retryAt = QDateTime::currentDateTimeUtc().addSecs(seconds);
    } else if (const qint64 reset = reply.rawHeader("x-ratelimit-reset").trimmed().toLongLong(&ok); primary && ok) {
        error.retryAt = QDateTime::fromSecsSinceEpoch(reset, Qt::UTC);
    }
}

// The log's form of a failure names the request's path; the token and any query stay out.
Error atRequest(Error error, const QUrl& url)
{
    error.textualForm += QStringLiteral(" [POST ") + url.path(QUrl::FullyEncoded) + QLatin1Char(']');
    return error;
}

Error abortError(AbortReason reason, std::optional<int> code)
{
    switch (reason) {
    case AbortReason::TimedOut:
        return HttpClient::makeError(HttpErrorCase::timedOut,
                                     unreachable(QStringLiteral("the request timed out")),
                                     code);
    case AbortReason::Cancelled:
        return HttpClient::makeError(HttpErrorCase::explicitlyCancelled,
                                     QStringLiteral("Request explicitly cancelled."),
                                     code);
    case AbortReason::TooLarge:
    case AbortReason::None:
        break;
    }
    return HttpClient::makeError(
        HttpErrorCase::responseTooLarge,
        QStringLiteral("Response body exceeds the limit of %1 bytes.").arg(HttpClient::kMaxResponseBytes),
        code);
}

// A request body that can be read once. QtNetwork sends a request again by itself when the
// connection closes before an answer came; it rewinds the body first, and a body that refuses
// to rewind makes the request fail instead (ContentReSendError). The server may have acted on a
// POST it read in full, so once any of the body has left for the socket it is never rewound.
// Random access (not sequential) lets QtNetwork send it as it is, without buffering a copy.
class OnceReadBody : public QIODevice
{
public:
    OnceReadBody(QByteArray data, QObject* parent)
        : QIODevice(parent)
        , m_data(std::move(data))
    {
        open(QIODevice::ReadOnly);
    }

    qint64 size() const override { return m_data.size(); }
    bool handedOut() const { return m_handedOut; }
    bool reset() override { return !m_handedOut && QIODevice::reset(); }

protected:
    qint64 readData(char* out, qint64 max) override
    {
        const qint64 n = std::min(max, m_data.size() - pos());
        if (n <= 0)
            return 0;
        std::memcpy(out, m_data.constData() + pos(), static_cast<size_t>(n));
        m_handedOut = true;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    const QByteArray m_data;
    bool m_handedOut = false;
};

} // namespace

QByteArray HttpClient::userAgent()
{
    return QByteArrayLiteral("Jotwarden/2.0.0");
}

namespace {

QPointer<QNetworkAccessManager> gManager;

// A reply that outlives its manager hands its clean-up to the manager's HTTP thread after that
// thread has ended, and the connection's objects leak. Replies waiting for a deferred deletion
// when the application ends would do so; they go first, then the manager.
void releaseNetworkAccessManager()
{
    if (!gManager)
        return;
    qDeleteAll(gManager->findChildren<QNetworkReply*>(Qt::FindDirectChildrenOnly));
    delete gManager;
}

} // namespace

QNetworkAccessManager* HttpClient::networkAccessManager()
{
    if (!gManager) {
        gManager = new QNetworkAccessManager(QCoreApplication::instance());
        qAddPostRoutine(releaseNetworkAccessManager);
    }
    return gManager;
}

void HttpClient::setInactivityTimeout(std::chrono::milliseconds timeout)
{
    gInactivityTimeout = timeout;
}

std::chrono::milliseconds HttpClient::inactivityTimeout()
{
    return gInactivityTimeout;
}

Error HttpClient::makeError(const QString& caseName, const QString& description, std::optional<int> responseCode)
{
    return Error{kErrorDomain, caseName, description, description, responseCode};
}

QString HttpClient::statusFailureDescription(int status, const QByteArray& body)
{
    const QString code = QStringLiteral("(HTTP %1)").arg(status);
    const auto withMessage = [&body](const QString& text) {
        const QString message = bodyMessage(body);
        return message.isEmpty() ? text : text + QStringLiteral(": ") + message;
    };
    if (status == 401)
        return QStringLiteral("GitHub refused the token ") + code + QStringLiteral("; change it in the panel");
    if (status == 403 && !namesARateLimit(body))
        return withMessage(QStringLiteral("The token lacks access ") + code);
    if (status == 410)
        return QStringLiteral("Issues are turned off for this repository ") + code;
    if (status == 422)
        return withMessage(QStringLiteral("GitHub refused the issue ") + code);
    if (status >= 500 && status < 600)
        return QStringLiteral("GitHub is unavailable ") + code;
    if (status >= 400 && status < 500)
        return withMessage(QStringLiteral("GitHub refused the request ") + code);
    if (status >= 300 && status < 400)
        return QStringLiteral("GitHub redirected the request elsewhere ") + code;
    return QStringLiteral("GitHub gave an unexpected answer ") + code;
}

QCoro::Task<Expected<HttpResponse>> HttpClient::postJson(QUrl url,
                                                         QJsonObject body,
                                                         HttpHeaders headers,
                                                         HttpValidation validation,
                                                         std::optional<CancellationToken> cancellation)
{
    if (!QCoreApplication::instance() || QThread::currentThread() != QCoreApplication::instance()->thread())
        co_return makeError(HttpErrorCase::sessionTaskFailed,
                            QStringLiteral("HTTP requests must be made on the GUI thread."));
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        co_return makeError(HttpErrorCase::invalidURL,
                            QStringLiteral("URL is not valid: %1").arg(url.toString(QUrl::RemoveUserInfo)));
    for (const auto& [name, value] : headers)
        if (!isValidHeader(name, value))
            co_return makeError(HttpErrorCase::invalidHeader,
                                QStringLiteral("Header field is not valid: %1").arg(QString::fromLatin1(name)));
    if (!headerValue(headers, "Content-Type"))
        headers.append({QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json")});

    const QByteArray payload = QJsonDocument(body).toJson(QJsonDocument::Compact);

    for (int redirects = 0;; ++redirects) {
        if (cancellation && cancellation->isCancelled())
            co_return atRequest(abortError(AbortReason::Cancelled, std::nullopt), url);

        QNetworkRequest request(url);
        for (const auto& [name, value] : headers)
            request.setRawHeader(name, value);
        if (!headerValue(headers, "User-Agent"))
            request.setRawHeader("User-Agent", userAgent());
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);

        request.setHeader(QNetworkRequest::ContentLengthHeader, payload.size());
        auto* upload = new OnceReadBody(payload, nullptr);
        ReplyPtr reply(networkAccessManager()->post(request, upload));
        QNetworkReply* raw = reply.get();
        upload->setParent(raw);
        auto reason = std::make_shared<AbortReason>(AbortReason::None);
        // Aborting is queued: a synchronous abort would resume this coroutine inside the signal
        // (or the caller's cancel()) that asked for it.
        auto abortFor = [raw, reason](AbortReason why) {
            if (*reason != AbortReason::None)
                return;
            *reason = why;
            QMetaObject::invokeMethod(raw, &QNetworkReply::abort, Qt::QueuedConnection);
        };

        auto* idle = new QTimer(raw);
        idle->setSingleShot(true);
        idle->setInterval(gInactivityTimeout);
        QObject::connect(idle, &QTimer::timeout, raw, [abortFor] { abortFor(AbortReason::TimedOut); });
        QObject::connect(raw, &QNetworkReply::uploadProgress, idle, [idle] { idle->start(); });
        QObject::connect(raw, &QNetworkReply::downloadProgress, idle, [idle, abortFor](qint64 received, qint64 total) {
            idle->start();
            if (received > kMaxResponseBytes || total > kMaxResponseBytes)
                abortFor(AbortReason::TooLarge);
        });
        QObject::connect(raw, &QNetworkReply::metaDataChanged, idle, [idle, raw, abortFor] {
            idle->start();
            bool known = false;
            const qlonglong length = raw->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
            if (known && length > kMaxResponseBytes)
                abortFor(AbortReason::TooLarge);
        });
        // Progress counts bytes on the wire; a compressed body can grow far beyond them once inflated.
        QObject::connect(raw, &QNetworkReply::readyRead, idle, [raw, abortFor] {
            if (raw->bytesAvailable() > kMaxResponseBytes)
                abortFor(AbortReason::TooLarge);
        });
        if (cancellation)
            QObject::connect(cancellation->state(), &detail::CancellationState::cancelRequested, raw, [abortFor] {
                abortFor(AbortReason::Cancelled);
            });
        idle->start();

        co_await raw;

        const QVariant statusAttribute = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const std::optional<int> status = statusAttribute.isValid() && statusAttribute.toInt() > 0
                                              ? std::optional<int>(statusAttribute.toInt())
                                              : std::nullopt;
        // Without a status and with the body never read, GitHub cannot have acted on the request.
        const bool nothingSent = !status && !upload->handedOut();
        if (*reason != AbortReason::None) {
            Error error = abortError(*reason, status);
            if (nothingSent && *reason == AbortReason::TimedOut)
                error.retry = Error::Retry::whenReachable;
            co_return atRequest(std::move(error), url);
        }

        const QNetworkReply::NetworkError networkError = raw->error();
        // QtNetwork reports an unacceptable status as an error too; anything else (such as a failed
        // decompression of a 2xx body) is a failure of the transfer itself.
        const bool statusExplainsError = status && (*status < 200 || *status >= 300) && isStatusDerived(networkError);
        // QtNetwork's own text for a refused resend is "Unknown error".
        if (networkError == QNetworkReply::ContentReSendError && !status)
            co_return atRequest(
                makeError(
                    HttpErrorCase::sessionTaskFailed,
                    QStringLiteral("The connection closed before an answer came; the request was not sent again.")),
                url);
        // Without a status nothing was heard from GitHub; with one, the answer broke on its way.
        if (networkError != QNetworkReply::NoError && !statusExplainsError) {
            const QString description = status ? transferErrorText(raw->errorString())
                                               : unreachable(unreachableReason(networkError, raw->errorString()));
            Error error = makeError(HttpErrorCase::sessionTaskFailed, description, status);
            if (nothingSent)
                error.retry = Error::Retry::whenReachable;
            co_return atRequest(std::move(error), url);
        }
        if (!status)
            co_return atRequest(
                makeError(HttpErrorCase::sessionTaskFailed, QStringLiteral("The server sent no HTTP status.")),
                url);

        if (*status == 307 || *status == 308) {
            const QUrl location = QUrl::fromEncoded(raw->rawHeader("Location"));
            const QUrl target = url.resolved(location);
            if (!location.isEmpty() && target.isValid() && sameOrigin(url, target)) {
                if (redirects >= kMaxRedirects)
                    co_return atRequest(
                        makeError(HttpErrorCase::tooManyRedirects, QStringLiteral("Too many redirects"), status),
                        url);
                url = target;
                continue;
            }
        }

        HttpResponse response;
        response.statusCode = *status;
        response.contentType = raw->rawHeader("Content-Type");
        response.body = raw->readAll();
        if (response.body.size() > kMaxResponseBytes)
            co_return atRequest(abortError(AbortReason::TooLarge, status), url);

        if (*status < 200 || *status >= 300) {
            Error error = makeError(HttpErrorCase::responseValidationFailed,
                                    statusFailureDescription(*status, response.body),
                                    status);
            classifyRateLimit(error, *status, *raw, response.body);
            co_return atRequest(std::move(error), url);
        }
        if (validation == HttpValidation::StatusCodeAndContentType)
            if (auto failure = validateContentType(headers, response.contentType, response.body, *status))
                co_return atRequest(*failure, url);
        co_return response;
    }
}

} // namespace jw
