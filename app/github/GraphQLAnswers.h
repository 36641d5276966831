#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace jw::GraphQLAnswers {

// The answer to the board mutation: whether it names the added item, and the "errors" messages
// (nothing when the member is absent or null).
struct AddItemAnswer
{
    bool hasItem = false;
    std::optional<QStringList> errors;
};

struct Board
{
    QString id;
    QString title;
    QString url;
};

// The answer to the owner's board query.
struct FetchAnswer
{
    bool hasData = false;
    std::vector<Board> boards; // the organisation's first, then the user's
    std::optional<QStringList> errors;
};

// A body that is not the expected shape fails as the HTTP layer's decoding error with `status`.
Expected<AddItemAnswer> decodeAddItem(const QByteArray& body, int status);
Expected<FetchAnswer> decodeFetch(const QByteArray& body, int status);

} // namespace jw::GraphQLAnswers
