#include "app/views/ProjectDropdownButton.h"

#include "app/github/RepoInfo.h"
#include "app/views/SettingsStyle.h"
#include "platform/Log.h"
#include "platform/TaskStart.h"
#include "platform/symbols/Symbols.h"

#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSet>
#include <QShowEvent>
#include <QStyle>
#include <QWidgetAction>
#include <QtMath>

#include <algorithm>

namespace jw {

namespace style = settings_style;

namespace {

constexpr int kFaceSpacing = 4;
constexpr int kFacePaddingH = 7;
constexpr int kFacePaddingV = 3;
constexpr qreal kFaceSymbolPoints = 10;
constexpr qreal kBorderWidth = 0.5;
constexpr qreal kSelectedFill = 0.12;
constexpr qreal kPlainFill = 0.05;
// Past this a board's name is elided, so a long title cannot push the row's other controls
// out of the panel.
constexpr int kMaximumFaceTextWidth = 140;

// Ordering by Unicode scalar values, not UTF-16 code units (which put U+E000..U+FFFF after
// characters outside the basic plane) and not the locale.
bool scalarLess(const QString& a, const QString& b)
{
    const QList<uint> x = a.normalized(QString::NormalizationForm_C).toUcs4();
    const QList<uint> y = b.normalized(QString::NormalizationForm_C).toUcs4();
    return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end());
}

// Menu texts are shown verbatim: "&" must not become a mnemonic.
QString menuText(QString text)
{
    return text.replace(QLatin1Char('&'), QLatin1String("&&"));
}

// A line of the menu that is read, not chosen: drawn as a label in its own colour rather than as
// a disabled item, which styles draw too pale to notice.
class MenuNote : public QLabel
{
public:
    using QLabel::QLabel;

protected:
    // Taken here, so a click on the note neither closes the menu nor chooses anything.
    void mousePressEvent(QMouseEvent* event) override { event->accept(); }
    void mouseReleaseEvent(QMouseEvent* event) override { event->accept(); }
};

QWidgetAction* addNote(QMenu* menu, const QString& text, const QFont& font, const QColor& colour)
{
    auto* action = new QWidgetAction(menu);
    // The text stays on the action too, for whatever reads the menu's actions.
    action->setText(menuText(text));
    auto* note = new MenuNote(text);
    note->setTextFormat(Qt::PlainText);
    note->setFont(font);
    QPalette pal = note->palette();
    pal.setColor(QPalette::WindowText, colour);
    note->setPalette(pal);
    // Lined up with the items' texts, past the icon column.
    const int iconColumn = menu->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, menu) + 12;
    note->setContentsMargins(iconColumn, 3, 12, 3);
    action->setDefaultWidget(note);
    menu->addAction(action);
    return action;
}

} // namespace

QString ProjectDropdownButton::markedText(const QString& text, bool marked)
{
    // After a tab, menus draw the rest at the right edge: the trailing check mark.
    return marked ? text + QLatin1Char('\t') + kCheckMark : text;
}

ProjectDropdownButton::ProjectDropdownButton(std::shared_ptr<WatchedDirectory> directory,
                                             ProjectList cachedProjects,
                                             std::optional<QString> token,
                                             store::ModelContext* modelContext,
                                             QUrl apiBaseUrl,
                                             QWidget* parent)
    : QAbstractButton(parent)
    , m_directory(std::move(directory))
    , m_cachedProjects(std::move(cachedProjects))
    , m_token(std::move(token))
    , m_modelContext(modelContext)
    , m_apiBaseUrl(std::move(apiBaseUrl))
    , m_menu(new QMenu(this))
{
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    connect(m_menu, &QMenu::aboutToShow, this, &ProjectDropdownButton::rebuildMenu);
    connect(this, &QAbstractButton::clicked, this, &ProjectDropdownButton::popUpMenu);
    rebuildMenu();
    describeFace();
}

ProjectDropdownButton::~ProjectDropdownButton() = default;

void ProjectDropdownButton::setCachedProjects(ProjectList projects)
{
    m_cachedProjects = std::move(projects);
    updateGeometry();
    update();
    describeFace();
    rebuildMenu();
}

void ProjectDropdownButton::setToken(std::optional<QString> token)
{
    const bool arrived = !m_token && token;
    m_token = std::move(token);
    rebuildMenu();
    // A token saved or unlocked while the panel is up starts what opening the panel would have.
    if (arrived && isVisible())
        autoFetchIfNeeded();
}

void ProjectDropdownButton::setIsFetching(bool value)
{
    if (m_isFetching == value)
        return;
    m_isFetching = value;
    rebuildMenu();
    Q_EMIT isFetchingChanged(value);
}

void ProjectDropdownButton::setFetchError(std::optional<QString> value)
{
    if (m_fetchError == value)
        return;
    m_fetchError = std::move(value);
    rebuildMenu();
    Q_EMIT fetchErrorChanged();
}

std::shared_ptr<ProjectCache> ProjectDropdownButton::selectedProject() const
{
    const std::optional<QString> id = m_directory ? m_directory->selectedProjectNodeId() : std::nullopt;
    if (!id)
        return nullptr;
    for (const auto& project : m_cachedProjects)
        if (project && project->projectNodeId() == *id)
            return project;
    return nullptr;
}

std::vector<std::pair<QString, ProjectList>> ProjectDropdownButton::groupProjects(const ProjectList& projects)
{
    std::vector<std::pair<QString, ProjectList>> groups;
    for (const auto& project : projects) {
        if (!project)
            continue;
        // Canonically equivalent logins are one owner, as text equality has it.
        const QString key = project->owner().normalized(QString::NormalizationForm_C);
        auto it = std::find_if(groups.begin(), groups.end(), [&](const auto& g) {
            return g.first.normalized(QString::NormalizationForm_C) == key;
        });
        if (it == groups.end())
            groups.push_back({project->owner(), {project}});
        else
            it->second.push_back(project);
    }
    std::sort(groups.begin(), groups.end(), [](const auto& a, const auto& b) { return scalarLess(a.first, b.first); });
    for (auto& group : groups)
        std::stable_sort(group.second.begin(), group.second.end(), [](const auto& a, const auto& b) {
            return scalarLess(a->displayName(), b->displayName());
        });
    return groups;
}

void ProjectDropdownButton::select(const std::shared_ptr<ProjectCache>& project)
{
    if (!project || !m_directory)
        return;
    m_directory->setSelectedProjectNodeId(project->projectNodeId());
    if (m_modelContext)
        (void)m_modelContext->save();
    updateGeometry();
    update();
    describeFace();
    // Queued: this runs inside the triggered item, which a rebuild would delete.
    QMetaObject::invokeMethod(this, &ProjectDropdownButton::rebuildMenu, Qt::QueuedConnection);
}

void ProjectDropdownButton::clearSelection()
{
    if (!m_directory)
        return;
    m_directory->setSelectedProjectNodeId(std::nullopt);
    if (m_modelContext)
        (void)m_modelContext->save();
    updateGeometry();
    update();
    describeFace();
    // Queued: this runs inside the triggered item, which a rebuild would delete.
    QMetaObject::invokeMethod(this, &ProjectDropdownButton::rebuildMenu, Qt::QueuedConnection);
}

void ProjectDropdownButton::autoFetchIfNeeded()
{
    if (m_cachedProjects.empty() && m_token)
        startTask([self = QPointer(this)] { return runRefresh(self, true); });
}

void ProjectDropdownButton::refreshButtonAction()
{
    startTask([self = QPointer(this)] { return runRefresh(self, false); });
}

QCoro::Task<> ProjectDropdownButton::runRefresh(QPointer<ProjectDropdownButton> button, bool automatic)
{
    if (!button)
        co_return;
    if (OwnerFetches* fetches = button->m_ownerFetches; fetches && button->m_token) {
        // An owner that had no board is not asked again at every opening, only when the user asks.
        if (const std::optional<QString> owner = button->resolveRepo()) {
            if (!automatic)
                fetches->empty.remove(*owner);
            else if (fetches->empty.contains(*owner))
                co_return;
        }
    }
    co_await button->refreshProjects();
}

QCoro::Task<> ProjectDropdownButton::refreshProjects()
{
    // The task keeps the values it started with; after the await the picker may be gone.
    QPointer<ProjectDropdownButton> self(this);
    const std::optional<QString> token = m_token;
    if (!token)
        co_return;
    const std::optional<QString> owner = resolveRepo();
    if (!owner) {
        setFetchError(tr(kNoRemoteText));
        co_return;
    }
    // One fetch per owner at a time: its answer reaches the other pickers of that owner through
    // the store.
    QPointer<OwnerFetches> fetches = m_ownerFetches;
    if (fetches && fetches->running.contains(*owner))
        co_return;
    if (fetches)
        fetches->running.insert(*owner);
    const ProjectList known = m_cachedProjects;
    QPointer<store::ModelContext> context = m_modelContext;
    GitHubProjectsClient client(m_apiBaseUrl);
    setIsFetching(true);
    setFetchError(std::nullopt);

    auto result = co_await client.fetchOwnerProjects(*owner, *token);
    if (fetches) {
        fetches->running.remove(*owner);
        if (result && result.value().empty())
            fetches->empty.insert(*owner);
    }
    if (result) {
        QSet<QString> knownIds;
        for (const auto& project : known)
            knownIds.insert(project->projectNodeId());
        if (context) {
            for (const auto& project : result.value())
                if (project && !knownIds.contains(project->projectNodeId()))
                    context->insert(project);
            (void)context->save();
        }
        if (self)
            self->setIsFetching(false);
    } else {
        if (self)
            self->setFetchError(result.error().description);
        log(QStringLiteral("Failed to fetch projects: ") + result.error().textualForm);
        if (self)
            self->setIsFetching(false);
    }
}

std::optional<QString> ProjectDropdownButton::resolveRepo() const
{
    if (!m_directory)
        return std::nullopt;
    const QString path = m_directory->path();
    if (auto info = RepoInfo::resolve(path + QStringLiteral("/.git/config")))
        return info->owner;
    // A name that need not exist: resolution starts from its parent, the directory itself.
    if (auto info = RepoInfo::resolve(path + QStringLiteral("/.jotwarden-probe")))
        return info->owner;
    return std::nullopt;
}

QString ProjectDropdownButton::faceText() const
{
    const auto selected = selectedProject();
    return selected ? selected->displayName() : QStringLiteral("Project");
}

QString ProjectDropdownButton::faceSymbolName() const
{
    const auto selected = selectedProject();
    if (!selected)
        return QStringLiteral("folder.badge.plus");
    return selected->isV2() ? QStringLiteral("sparkles") : QStringLiteral("folder.badge.checkmark");
}

// The face shows a long name cut short; the whole of it is at hand under the pointer and to
// assistive technology.
void ProjectDropdownButton::describeFace()
{
    setToolTip(faceText());
    setAccessibleName(faceText());
}

QColor ProjectDropdownButton::faceTextColor() const
{
    if (selectedProject())
        return style::primary(palette());
    if (!m_plainFaceTextColor)
        m_plainFaceTextColor =
            style::secondaryOn(palette(),
                               style::composite(style::withAlpha(style::blue(), kPlainFill), style::backdrop(this)));
    return *m_plainFaceTextColor;
}

void ProjectDropdownButton::changeEvent(QEvent* event)
{
    // What lies beneath may be drawn differently now.
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange
        || event->type() == QEvent::ParentChange)
        m_plainFaceTextColor.reset();
    QAbstractButton::changeEvent(event);
}

void ProjectDropdownButton::rebuildMenu()
{
    const QString refreshText = m_isFetching ? tr(kFetchingText) : tr(kRefreshText);
    const bool canRefresh = !m_isFetching && m_token.has_value();
    // Rebuilding an open menu would pull the item under the pointer away; every opening rebuilds.
    if (m_menu->isVisible()) {
        if (m_refreshAction) {
            m_refreshAction->setText(refreshText);
            m_refreshAction->setEnabled(canRefresh);
        }
        return;
    }
    m_menu->clear();

    QAction* refresh =
        m_menu->addAction(Symbols::icon(QStringLiteral("arrow.clockwise"), style::primary(palette())), refreshText);
    refresh->setEnabled(canRefresh);
    connect(refresh, &QAction::triggered, this, &ProjectDropdownButton::refreshButtonAction);
    m_refreshAction = refresh;

    if (m_fetchError) {
        const QPalette pal = m_menu->palette();
        // Legible on both fills a style may give a menu.
        const QColor colour =
            style::legible(style::legible(style::red(), pal.color(QPalette::Window)), pal.color(QPalette::Base));
        QAction* error = addNote(m_menu, QStringLiteral("\u26A0 ") + *m_fetchError, m_menu->font(), colour);
        error->setObjectName(QStringLiteral("fetchError"));
    }

    if (m_cachedProjects.empty())
        return;

    const std::optional<QString> selectedId = m_directory ? m_directory->selectedProjectNodeId() : std::nullopt;
    m_menu->addSeparator();
    QAction* none = m_menu->addAction(markedText(tr(kNoProjectText), !selectedId.has_value()));
    connect(none, &QAction::triggered, this, &ProjectDropdownButton::clearSelection);
    m_menu->addSeparator();

    for (const auto& [owner, boards] : groupedProjects()) {
        // A section header the user can read in every style (some styles draw sections as bare lines).
        QFont bold = m_menu->font();
        bold.setBold(true);
        QAction* header = addNote(m_menu, owner, style::caption(bold), style::primary(m_menu->palette()));
        header->setObjectName(QStringLiteral("ownerSection"));
        for (const auto& board : boards) {
            const QIcon icon = Symbols::icon(board->isV2() ? QStringLiteral("sparkles") : QStringLiteral("folder.fill"),
                                             style::primary(palette()));
            QAction* item =
                m_menu->addAction(icon,
                                  markedText(menuText(board->displayName()), selectedId == board->projectNodeId()));
            item->setData(board->projectNodeId());
            std::weak_ptr<ProjectCache> weak = board;
            connect(item, &QAction::triggered, this, [this, weak] {
                if (auto b = weak.lock())
                    select(b);
            });
        }
    }
}

void ProjectDropdownButton::popUpMenu()
{
    m_menu->popup(mapToGlobal(QPoint(0, height() + 2)));
}

QFont ProjectDropdownButton::faceFont() const
{
    return style::caption2(font());
}

QSize ProjectDropdownButton::sizeHint() const
{
    const QFontMetrics fm(faceFont());
    const int symbol = qRound(kFaceSymbolPoints * logicalDpiY() / 72.0);
    // Rounded up, never to the nearest pixel: eliding compares the fractional width, and a name
    // a fraction wider than its room would lose its last letters.
    const int text = std::min(qCeil(QFontMetricsF(faceFont()).horizontalAdvance(faceText())), kMaximumFaceTextWidth);
    const int width = kFacePaddingH * 2 + symbol + kFaceSpacing + text;
    const int height = kFacePaddingV * 2 + std::max(symbol, fm.height());
    return {width, height};
}

void ProjectDropdownButton::paintEvent(QPaintEvent*)
{
    const bool selected = selectedProject() != nullptr;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);

    const QRectF r = QRectF(rect()).adjusted(kBorderWidth / 2, kBorderWidth / 2, -kBorderWidth / 2, -kBorderWidth / 2);
    const qreal radius = r.height() / 2;
    QPainterPath capsule;
    capsule.addRoundedRect(r, radius, radius);
    p.fillPath(capsule, style::withAlpha(style::blue(), selected ? kSelectedFill : kPlainFill));
    p.strokePath(capsule, QPen(style::withAlpha(style::blue(), selected ? 0.3 : 0.15), kBorderWidth));

    const QFontMetrics fm(faceFont());
    const int symbol = qRound(kFaceSymbolPoints * logicalDpiY() / 72.0);
    const QRect symbolRect(kFacePaddingH, (height() - symbol) / 2, symbol, symbol);
    Symbols::icon(faceSymbolName(), selected ? style::blue() : style::secondary(palette())).paint(&p, symbolRect);

    p.setFont(faceFont());
    p.setPen(faceTextColor());
    const QRect textRect(symbolRect.right() + 1 + kFaceSpacing,
                         0,
                         width() - symbolRect.right() - 1 - kFaceSpacing - kFacePaddingH,
                         height());
    p.drawText(textRect,
               Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
               fm.elidedText(faceText(), Qt::ElideRight, textRect.width()));
    if (hasFocus()) {
        p.setPen(QPen(style::withAlpha(style::blue(), 0.6), 1));
        p.drawPath(capsule);
    }
}

void ProjectDropdownButton::showEvent(QShowEvent* event)
{
    QAbstractButton::showEvent(event);
    if (!event->spontaneous())
        autoFetchIfNeeded();
}

} // namespace jw
