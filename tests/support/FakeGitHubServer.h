#pragma once

#include "platform/http/HttpClient.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QUrl>

#include <chrono>
#include <deque>
#include <optional>

class QTcpServer;
class QTcpSocket;

namespace jw::test {

// One request as the fake server read it off the wire.
struct RecordedRequest
{
    QByteArray method;
    QByteArray path;     // the request target, query included
    HttpHeaders headers; // in the order received, names as sent
    QByteArray body;

    // The first header of that name (case-insensitive).
    std::optional<QByteArray> header(const QByteArray& name) const;
    QList<QByteArray> headerNames() const;
    QJsonObject json() const;
};

// What the fake server does with one request.
struct FakeResponse
{
    enum class Kind
    {
        Answer,
        DropConnection, // close the connection without a byte of answer
        NeverAnswer,    // keep the connection open and say nothing
    };

    Kind kind = Kind::Answer;
    int status = 200;
    HttpHeaders headers; // sent in this order; Content-Length and Connection are added
    QByteArray body;
    std::chrono::milliseconds delay{0};
    bool closeConnection = false;
    // No Content-Length: the body ends when the server closes the connection.
    bool omitContentLength = false;

    static FakeResponse json(int status, const QByteArray& body);
    // A recorded body from the shared fixtures' github folder.
    static FakeResponse fixture(int status, const QString& fileName);
    static FakeResponse redirect(int status, const QUrl& location);
    static FakeResponse drop();
    static FakeResponse neverAnswer();

    FakeResponse& withHeader(const QByteArray& name, const QByteArray& value);
    FakeResponse& after(std::chrono::milliseconds d);
};

// A GitHub API stand-in on 127.0.0.1 speaking enough HTTP/1.1 for QtNetwork: issue creation
// (POST /repos/{owner}/{repo}/issues) and GraphQL (POST /graphql, the board mutation and the
// owner query). It records every request and answers from a script, falling back to recorded
// fixture answers. Request bodies are read by Content-Length (QtNetwork sends no chunked
// requests); connections are kept alive unless an answer says otherwise. Lives on the GUI thread;
// tests wait with waitForRequests().
class FakeGitHubServer : public QObject
{
    Q_OBJECT
public:
    explicit FakeGitHubServer(QObject* parent = nullptr);
    ~FakeGitHubServer() override;

    // On `port`, or on any free one.
    bool start(quint16 port = 0);
    // Stops listening; open connections stay until their clients close them.
    void close();
    quint16 port() const;
    QUrl baseUrl() const; // "http://127.0.0.1:<port>"
    QUrl url(const QString& path) const;

    // Scripted answers are used once each: the oldest one queued for the request's path (query
    // excluded), else the oldest one queued for any path, else the path's fixed answer, else the
    // default answer.
    void enqueue(FakeResponse response);
    void enqueue(const QByteArray& path, FakeResponse response);
    void setAnswer(const QByteArray& path, FakeResponse response);

    QList<RecordedRequest> requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }
    bool waitForRequests(int count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    int openConnections() const;
    bool waitForOpenConnections(int count, std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // What the server answers when nothing is scripted: 201 with the recorded issue for issue
    // creation (422 as GitHub answers when its title or body is too long), the recorded mutation
    // answer, a small board list for the owner query (with the "organization" part null and its
    // error, as GitHub answers for a user login), 404 elsewhere.
    static FakeResponse defaultAnswer(const RecordedRequest& request);
    static QByteArray fixture(const QString& fileName);

Q_SIGNALS:
    void requestReceived(const jw::test::RecordedRequest& request);

private:
    struct Connection
    {
        QByteArray buffer;
        bool busy = false; // an answer is pending (delayed or never)
    };

    void onNewConnection();
    void processBuffer(QTcpSocket* socket);
    FakeResponse nextResponse(const RecordedRequest& request);
    void answer(QTcpSocket* socket, const FakeResponse& response);

    QTcpServer* m_server;
    QHash<QTcpSocket*, Connection> m_connections;
    QList<RecordedRequest> m_requests;
    std::deque<FakeResponse> m_anyPath;
    QHash<QByteArray, std::deque<FakeResponse>> m_byPath;
    QHash<QByteArray, FakeResponse> m_fixed;
};

} // namespace jw::test
