#include "app/github/GraphQLAnswers.h"

#include "platform/http/JsonDecoder.h"

namespace jw::GraphQLAnswers {
namespace {

// The "errors" member: absent or null gives nothing; otherwise every message, in order.
std::optional<QStringList> decodeErrors(JsonDecoder& decoder)
{
    const auto errors = decoder.optionalArray(decoder.root(), QStringLiteral("errors"), QString());
    if (!errors)
        return std::nullopt;
    QStringList messages;
    for (qsizetype i = 0; i < errors->size(); ++i) {
        const QString path = QStringLiteral("errors[%1]").arg(i);
        if (const auto error = decoder.objectElement(errors->at(i), path))
            if (const auto message = decoder.requiredString(*error, QStringLiteral("message"), path))
                messages << *message;
    }
    return messages;
}

void decodeOwner(JsonDecoder& decoder, const QJsonObject& data, const QString& key, std::vector<Board>& boards)
{
    const QString ownerPath = QStringLiteral("data.") + key;
    const auto owner = decoder.optionalObject(data, key, QStringLiteral("data"));
    if (!owner)
        return;
    const auto projects = decoder.optionalObject(*owner, QStringLiteral("projectsV2"), ownerPath);
    if (!projects)
        return;
    const QString projectsPath = ownerPath + QStringLiteral(".projectsV2");
    const auto nodes = decoder.requiredArray(*projects, QStringLiteral("nodes"), projectsPath);
    if (!nodes)
        return;
    for (qsizetype i = 0; i < nodes->size(); ++i) {
        const QString path = projectsPath + QStringLiteral(".nodes[%1]").arg(i);
        const auto node = decoder.objectElement(nodes->at(i), path);
        if (!node)
            return;
        const auto id = decoder.requiredString(*node, QStringLiteral("id"), path);
        const auto title = decoder.requiredString(*node, QStringLiteral("title"), path);
        const auto url = decoder.requiredString(*node, QStringLiteral("url"), path);
        if (!decoder.ok())
            return;
        boards.push_back(Board{*id, *title, *url});
    }
}

} // namespace

Expected<AddItemAnswer> decodeAddItem(const QByteArray& body, int status)
{
    JsonDecoder decoder(body);
    AddItemAnswer answer;
    if (const auto data = decoder.optionalObject(decoder.root(), QStringLiteral("data"), QString()))
        if (const auto added =
                decoder.optionalObject(*data, QStringLiteral("addProjectV2ItemById"), QStringLiteral("data")))
            if (const auto item =
                    decoder.optionalObject(*added, QStringLiteral("item"), QStringLiteral("data.addProjectV2ItemById")))
                answer.hasItem =
                    decoder
                        .requiredString(*item, QStringLiteral("id"), QStringLiteral("data.addProjectV2ItemById.item"))
                        .has_value();
    answer.errors = decodeErrors(decoder);
    if (!decoder.ok())
        return decoder.error(status);
    return answer;
}

Expected<FetchAnswer> decodeFetch(const QByteArray& body, int status)
{
    JsonDecoder decoder(body);
    FetchAnswer answer;
    if (const auto data = decoder.optionalObject(decoder.root(), QStringLiteral("data"), QString())) {
        answer.hasData = true;
        decodeOwner(decoder, *data, QStringLiteral("organization"), answer.boards);
        decodeOwner(decoder, *data, QStringLiteral("user"), answer.boards);
    }
    answer.errors = decodeErrors(decoder);
    if (!decoder.ok())
        return decoder.error(status);
    return answer;
}

} // namespace jw::GraphQLAnswers
