#include "app/IslandState.h"

namespace jw {

IslandState IslandState::detecting(const QString& title)
{
    IslandState s;
    s.kind = Kind::detecting;
    s.title = title;
    return s;
}

IslandState IslandState::creating(const QString& title)
{
    IslandState s;
    s.kind = Kind::creating;
    s.title = title;
    return s;
}

IslandState IslandState::confirmed(const QString& title,
                                   const QString& repoFullName,
                                   qint64 issueNumber,
                                   const QString& issueURL,
                                   const std::optional<QString>& projectName,
                                   const std::optional<QString>& projectURL,
                                   bool projectFailed,
                                   bool isV2Project)
{
    IslandState s;
    s.kind = Kind::confirmed;
    s.title = title;
    s.repoFullName = repoFullName;
    s.issueNumber = issueNumber;
    s.issueURL = issueURL;
    s.projectName = projectName;
    s.projectURL = projectURL;
    s.projectFailed = projectFailed;
    s.isV2Project = isV2Project;
    return s;
}

IslandState IslandState::error(const QString& message)
{
    IslandState s;
    s.kind = Kind::error;
    s.message = message;
    return s;
}

bool IslandState::operator==(const IslandState& o) const
{
    if (kind != o.kind)
        return false;
    switch (kind) {
    case Kind::detecting:
    case Kind::creating:
        return title == o.title;
    case Kind::confirmed:
        return title == o.title && repoFullName == o.repoFullName && issueNumber == o.issueNumber
               && issueURL == o.issueURL && projectName == o.projectName && projectURL == o.projectURL
               && projectFailed == o.projectFailed && isV2Project == o.isV2Project;
    case Kind::error:
        return message == o.message;
    case Kind::hidden:
        return true;
    }
    return false;
}

QString IslandState::debugDescription() const
{
    switch (kind) {
    case Kind::detecting:
        return QStringLiteral("detecting(\"%1\")").arg(title);
    case Kind::creating:
        return QStringLiteral("creating(\"%1\")").arg(title);
    case Kind::confirmed:
        // One substitution: a "%1" in the title must stay text.
        return QStringLiteral("confirmed(\"%1\", %2#%3, project: %4%5%6)")
            .arg(title,
                 repoFullName,
                 QString::number(issueNumber),
                 projectName.value_or(QStringLiteral("none")),
                 projectFailed ? QStringLiteral(", failed") : QString(),
                 isV2Project ? QStringLiteral(", v2") : QString());
    case Kind::error:
        return QStringLiteral("error(\"%1\")").arg(message);
    case Kind::hidden:
        return QStringLiteral("hidden");
    }
    return {};
}

} // namespace jw
