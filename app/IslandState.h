#pragma once

#include <QString>

#include <optional>

namespace jw {

// The island's state. A tag with the fields of its payload; fields of other cases stay empty.
struct IslandState
{
    enum class Kind
    {
        detecting,
        creating,
        confirmed,
        error,
        hidden,
    };

    Kind kind = Kind::hidden;
    QString title;        // detecting, creating, confirmed
    QString repoFullName; // confirmed
    qint64 issueNumber = 0;
    QString issueURL;
    std::optional<QString> projectName;
    std::optional<QString> projectURL;
    bool projectFailed = false;
    bool isV2Project = false;
    QString message; // error

    static IslandState detecting(const QString& title);
    static IslandState creating(const QString& title);
    static IslandState confirmed(const QString& title,
                                 const QString& repoFullName,
                                 qint64 issueNumber,
                                 const QString& issueURL,
                                 const std::optional<QString>& projectName,
                                 const std::optional<QString>& projectURL,
                                 bool projectFailed,
                                 bool isV2Project);
    static IslandState error(const QString& message);
    static IslandState hidden() { return {}; }

    bool operator==(const IslandState& other) const;
    // For log lines and test messages.
    QString debugDescription() const;
};

} // namespace jw
