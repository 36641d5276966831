#include "tests/support/FakeGitHubServer.h"

#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace jw::test {
namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 422:
        return "Unprocessable Entity";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

QByteArray pathOnly(const QByteArray& target)
{
    const qsizetype q = target.indexOf('?');
    return q < 0 ? target : target.left(q);
}

const QByteArray kJson = QByteArrayLiteral("application/json; charset=utf-8");

} // namespace

std::optional<QByteArray> RecordedRequest::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return std::nullopt;
}

QList<QByteArray> RecordedRequest::headerNames() const
{
    QList<QByteArray> names;
    for (const auto& [key, value] : headers)
        names << key;
    return names;
}

QJsonObject RecordedRequest::json() const
{
    return QJsonDocument::fromJson(body).object();
}

FakeResponse FakeResponse::json(int status, const QByteArray& body)
{
    FakeResponse r;
    r.status = status;
    r.headers = {{QByteArrayLiteral("Content-Type"), kJson}};
    r.body = body;
    return r;
}

FakeResponse FakeResponse::fixture(int status, const QString& fileName)
{
    return json(status, FakeGitHubServer::fixture(fileName));
}

FakeResponse FakeResponse::redirect(int status, const QUrl& location)
{
    FakeResponse r = json(status,
                          QByteArrayLiteral("{\"message\":\"Moved Permanently\",\"url\":\"") + location.toEncoded()
                              + QByteArrayLiteral("\"}"));
    r.headers.append({QByteArrayLiteral("Location"), location.toEncoded()});
    return r;
}

FakeResponse FakeResponse::drop()
{
    FakeResponse r;
    r.kind = Kind::DropConnection;
    return r;
}

FakeResponse FakeResponse::neverAnswer()
{
    FakeResponse r;
    r.kind = Kind::NeverAnswer;
    return r;
}

FakeResponse& FakeResponse::withHeader(const QByteArray& name, const QByteArray& value)
{
    headers.append({name, value});
    return *this;
}

FakeResponse& FakeResponse::after(std::chrono::milliseconds d)
{
    delay = d;
    return *this;
}

FakeGitHubServer::FakeGitHubServer(QObject* parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &FakeGitHubServer::onNewConnection);
}

FakeGitHubServer::~FakeGitHubServer()
{
    for (QTcpSocket* socket : m_connections.keys()) {
        socket->disconnect(this);
        socket->abort();
    }
}

bool FakeGitHubServer::start(quint16 port)
{
    return m_server->listen(QHostAddress::LocalHost, port);
}

void FakeGitHubServer::close()
{
    m_server->close();
}

quint16 FakeGitHubServer::port() const
{
    return m_server->serverPort();
}

QUrl FakeGitHubServer::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port()));
}

QUrl FakeGitHubServer::url(const QString& path) const
{
    return QUrl(baseUrl().toString() + path);
}

void FakeGitHubServer::enqueue(FakeResponse response)
{
    m_anyPath.push_back(std::move(response));
}

void FakeGitHubServer::enqueue(const QByteArray& path, FakeResponse response)
{
    m_byPath[path].push_back(std::move(response));
}

void FakeGitHubServer::setAnswer(const QByteArray& path, FakeResponse response)
{
    m_fixed.insert(path, std::move(response));
}

bool FakeGitHubServer::waitForRequests(int count, std::chrono::milliseconds timeout)
{
    return QTest::qWaitFor([&] { return m_requests.size() >= count; }, static_cast<int>(timeout.count()));
}

int FakeGitHubServer::openConnections() const
{
    return static_cast<int>(m_connections.size());
}

bool FakeGitHubServer::waitForOpenConnections(int count, std::chrono::milliseconds timeout)
{
    return QTest::qWaitFor([&] { return openConnections() == count; }, static_cast<int>(timeout.count()));
}

QByteArray FakeGitHubServer::fixture(const QString& fileName)
{
    QFile file(QStringLiteral(JW_FIXTURES_DIR "/github/") + fileName);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", qPrintable(fileName));
    return file.readAll();
}

FakeResponse FakeGitHubServer::defaultAnswer(const RecordedRequest& request)
{
    const QByteArray path = pathOnly(request.path);
    const QList<QByteArray> parts = path.split('/');
    if (request.method == "POST" && parts.size() == 5 && parts[1] == "repos" && parts[4] == "issues") {
        // GitHub's own limits, which it counts in code points.
        const QJsonObject fields = request.json();
        for (const auto& [field, limit] : {std::pair{"title", 256}, std::pair{"body", 65536}}) {
            if (fields.value(QLatin1String(field)).toString().toUcs4().size() <= limit)
                continue;
            const QString reason = QStringLiteral("%1 is too long (maximum is %2 characters)").arg(field).arg(limit);
            const QJsonObject error{{QStringLiteral("resource"), QStringLiteral("Issue")},
                                    {QStringLiteral("code"), QStringLiteral("custom")},
                                    {QStringLiteral("field"), QLatin1String(field)},
                                    {QStringLiteral("message"), reason}};
            const QJsonObject answer{{QStringLiteral("message"), QStringLiteral("Validation Failed")},
                                     {QStringLiteral("errors"), QJsonArray{error}},
                                     {QStringLiteral("documentation_url"),
                                      QStringLiteral("https://docs.github.com/rest/issues/issues#create-an-issue")},
                                     {QStringLiteral("status"), QStringLiteral("422")}};
            return FakeResponse::json(422, QJsonDocument(answer).toJson(QJsonDocument::Compact));
        }
        return FakeResponse::fixture(201, QStringLiteral("rest-create-issue-201.json"));
    }
    if (request.method == "POST" && path == "/graphql") {
        const QJsonObject body = request.json();
        const QString query = body.value(QStringLiteral("query")).toString();
        if (query.startsWith(QLatin1String("mutation")))
            return FakeResponse::fixture(200, QStringLiteral("graphql-addProjectV2ItemById-200.recorded.json"));
        if (query.startsWith(QLatin1String("query FetchOwnerProjects"))) {
            const QString owner =
                body.value(QStringLiteral("variables")).toObject().value(QStringLiteral("owner")).toString();
            const auto node = [&](const QString& id, const QString& title, int number) {
                return QJsonObject{{QStringLiteral("id"), id},
                                   {QStringLiteral("title"), title},
                                   {QStringLiteral("url"),
                                    QStringLiteral("https://github.com/users/%1/projects/%2").arg(owner).arg(number)}};
            };
            const QJsonObject answer{
                {QStringLiteral("data"),
                 QJsonObject{
                     {QStringLiteral("organization"), QJsonValue::Null},
                     {QStringLiteral("user"),
                      QJsonObject{
                          {QStringLiteral("projectsV2"),
                           QJsonObject{
                               {QStringLiteral("nodes"),
                                QJsonArray{node(QStringLiteral("PVT_kwHOAA1"), QStringLiteral("Roadmap"), 1),
                                           node(QStringLiteral("PVT_kwHOAA2"), QStringLiteral("Bugs"), 2)}}}}}}}},
                {QStringLiteral("errors"),
                 QJsonArray{QJsonObject{
                     {QStringLiteral("type"), QStringLiteral("NOT_FOUND")},
                     {QStringLiteral("path"), QJsonArray{QStringLiteral("organization")}},
                     {QStringLiteral("message"),
                      QStringLiteral("Could not resolve to an Organization with the login of '%1'.").arg(owner)}}}}};
            return FakeResponse::json(200, QJsonDocument(answer).toJson(QJsonDocument::Compact));
        }
        return FakeResponse::json(200, QByteArrayLiteral("{\"errors\":[{\"message\":\"Unknown document\"}]}"));
    }
    return FakeResponse::json(404,
                              QByteArrayLiteral("{\"message\":\"Not Found\",\"documentation_url\":"
                                                "\"https://docs.github.com/rest\"}"));
}

void FakeGitHubServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        m_connections.insert(socket, Connection{});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            auto it = m_connections.find(socket);
            if (it == m_connections.end())
                return;
            it->buffer += socket->readAll();
            processBuffer(socket);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_connections.remove(socket);
            socket->deleteLater();
        });
    }
}

void FakeGitHubServer::processBuffer(QTcpSocket* socket)
{
    auto it = m_connections.find(socket);
    if (it == m_connections.end() || it->busy)
        return;
    const qsizetype headerEnd = it->buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;
    const QList<QByteArray> lines = it->buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    RecordedRequest request;
    request.method = requestLine.value(0);
    request.path = requestLine.value(1);
    qsizetype contentLength = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon);
        const QByteArray value = line.mid(colon + 1).trimmed();
        request.headers.append({name, value});
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
            contentLength = value.toLongLong();
    }
    const qsizetype total = headerEnd + 4 + contentLength;
    if (it->buffer.size() < total)
        return;
    request.body = it->buffer.mid(headerEnd + 4, contentLength);
    it->buffer.remove(0, total);

    m_requests.append(request);
    Q_EMIT requestReceived(request);
    const FakeResponse response = nextResponse(request);
    switch (response.kind) {
    case FakeResponse::Kind::DropConnection:
        m_connections.remove(socket);
        socket->abort();
        socket->deleteLater();
        return;
    case FakeResponse::Kind::NeverAnswer:
        it->busy = true;
        return;
    case FakeResponse::Kind::Answer:
        break;
    }
    if (response.delay.count() > 0) {
        it->busy = true;
        QTimer::singleShot(response.delay, Qt::PreciseTimer, socket, [this, socket, response] {
            auto again = m_connections.find(socket);
            if (again == m_connections.end())
                return;
            again->busy = false;
            answer(socket, response);
        });
        return;
    }
    answer(socket, response);
}

FakeResponse FakeGitHubServer::nextResponse(const RecordedRequest& request)
{
    const QByteArray path = pathOnly(request.path);
    auto queued = m_byPath.find(path);
    if (queued != m_byPath.end() && !queued->empty()) {
        FakeResponse r = std::move(queued->front());
        queued->pop_front();
        return r;
    }
    if (!m_anyPath.empty()) {
        FakeResponse r = std::move(m_anyPath.front());
        m_anyPath.pop_front();
        return r;
    }
    if (m_fixed.contains(path))
        return m_fixed.value(path);
    return defaultAnswer(request);
}

void FakeGitHubServer::answer(QTcpSocket* socket, const FakeResponse& response)
{
    const bool close = response.closeConnection || response.omitContentLength;
    QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
    for (const auto& [name, value] : response.headers)
        out += name + ": " + value + "\r\n";
    if (!response.omitContentLength)
        out += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    out += close ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
    out += "\r\n";
    out += response.body;
    socket->write(out);
    if (close)
        socket->disconnectFromHost();
    else
        processBuffer(socket);
}

} // namespace jw::test
