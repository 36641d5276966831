#include "app/views/SettingsView.h"

#include "app/JotwardenApp.h"
#include "app/github/KeychainHelper.h"
#include "app/views/ProjectDropdownButton.h"
#include "app/views/RelativeDate.h"
#include "app/views/SettingsStyle.h"
#include "platform/Log.h"
#include "platform/keychain/Keychain.h"
#include "platform/symbols/Symbols.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtMath>

namespace jw {

namespace style = settings_style;

namespace {

constexpr int kPadding = 12; // the platform's standard padding
constexpr int kBoxSpacing = 16;
constexpr int kBoxContentSpacing = 8;
constexpr int kDirectoryRowSpacing = 6;
constexpr int kDateRefreshMs = 30'000;
constexpr qreal kFocusRingWidth = 1.5;
constexpr int kFocusRingRoom = 2;

// The foreground level a text or symbol is drawn in. It stays on the widget, so that a change of
// palette or style (light to dark) draws it anew by the same rule.
enum class Tone
{
    primary,
    secondary,      // the secondary level made legible on what lies beneath
    secondaryLevel, // the bare secondary level
    quaternary,
};
const char* const kToneProperty = "tone";

QColor toneColour(Tone tone, const QWidget* widget, const QPalette& panel)
{
    switch (tone) {
    case Tone::primary:
        return style::primary(panel);
    case Tone::secondary:
        return style::secondaryOn(panel, style::backdrop(widget));
    case Tone::secondaryLevel:
        return style::secondary(panel);
    case Tone::quaternary:
        return style::quaternary(panel);
    }
    return style::primary(panel);
}

// A symbol's pixmap or icon, a button's text or a label's text, in `tone` of the panel's palette.
void applyTone(QWidget* widget, Tone tone, const QPalette& panel)
{
    widget->setProperty(kToneProperty, int(tone));
    const QColor colour = toneColour(tone, widget, panel);
    const QString symbol = widget->property("symbol").toString();
    auto* button = qobject_cast<QAbstractButton*>(widget);
    auto* label = qobject_cast<QLabel*>(widget);
    if (button && !symbol.isEmpty()) {
        button->setIcon(Symbols::icon(symbol, colour));
    } else if (label && !symbol.isEmpty()) {
        const QSize size = label->size();
        label->setPixmap(Symbols::pixmap(symbol, size, colour, label->devicePixelRatioF()));
    } else {
        QPalette pal = widget->palette();
        pal.setColor(button ? QPalette::ButtonText : QPalette::WindowText, colour);
        widget->setPalette(pal);
    }
}

// A failure reads as one, and as text, on the panel's background whatever the theme.
QColor errorRed(const QPalette& palette)
{
    // A margin over the bare 4.5:1: the group box fills a shade off the window colour.
    return style::legible(style::red(), palette.color(QPalette::Window), 5.2);
}

std::optional<SettingsView::Desktop> gDesktopOverride;

SettingsView::Desktop desktop()
{
    return gDesktopOverride.value_or(SettingsView::defaultDesktop());
}

// A small switch in the platform's manner: a capsule track with a round knob.
class ToggleSwitch : public QAbstractButton
{
public:
    explicit ToggleSwitch(QWidget* parent)
        : QAbstractButton(parent)
    {
        setCheckable(true);
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override { return {28, 16}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const qreal r = track.height() / 2;
        p.setPen(Qt::NoPen);
        p.setBrush(isChecked() ? style::blue() : style::withAlpha(style::primary(palette()), 0.18));
        p.drawRoundedRect(track, r, r);
        const qreal knob = track.height() - 3;
        const qreal x = isChecked() ? track.right() - 1.5 - knob : track.left() + 1.5;
        p.setBrush(Qt::white);
        p.setPen(QPen(QColor(0, 0, 0, 40), 0.5));
        p.drawEllipse(QRectF(x, track.top() + 1.5, knob, knob));
        if (hasFocus()) {
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(style::withAlpha(style::blue(), 0.5), 1));
            p.drawRoundedRect(track, r, r);
        }
    }
};

// One line of text, elided when the row is too narrow; the full text stays in text(). Its
// minimum is a few letters, so a long name gives way instead of widening the panel.
class ElidedLabel : public QLabel
{
public:
    ElidedLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent)
        : QLabel(text, parent)
        , m_mode(mode)
    {
    }
    QSize minimumSizeHint() const override
    {
        return {fontMetrics().horizontalAdvance(QStringLiteral("a...b")), QLabel::minimumSizeHint().height()};
    }
    QSize sizeHint() const override
    {
        if (m_mode == Qt::ElideMiddle)
            return minimumSizeHint();
        return {qCeil(QFontMetricsF(font()).horizontalAdvance(text())), QLabel::sizeHint().height()};
    }
    QString shownText() const { return fontMetrics().elidedText(text(), m_mode, contentsRect().width()); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setPen(palette().color(foregroundRole()));
        p.setFont(font());
        p.drawText(contentsRect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shownText());
    }
    void resizeEvent(QResizeEvent* event) override
    {
        QLabel::resizeEvent(event);
        setProperty("shownText", shownText());
    }

private:
    const Qt::TextElideMode m_mode;
};

QLabel* label(const QString& text, const QFont& font, const QColor& color, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    l->setFont(font);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, color);
    l->setPalette(pal);
    return l;
}

QLabel* label(const QString& text, const QFont& font, Tone tone, const QPalette& panel, QWidget* parent)
{
    QLabel* l = label(text, font, QColor(), parent);
    applyTone(l, tone, panel);
    return l;
}

QLabel* symbolLabel(const QString& name, const QColor& color, const QFont& font, QWidget* parent)
{
    auto* l = new QLabel(parent);
    const int size = QFontMetrics(font).height();
    // No colour: a tone given next draws the symbol.
    if (color.isValid())
        l->setPixmap(Symbols::pixmap(name, QSize(size, size), color, l->devicePixelRatioF()));
    l->setFixedSize(size, size);
    l->setProperty("symbol", name);
    return l;
}

// An icon-only button. Its frame is taken away, and the style's focus frame with it, so it draws
// its own ring while it has the keyboard: without one, Tab reaching it would show nothing.
class SymbolButton : public QToolButton
{
public:
    using QToolButton::QToolButton;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QToolButton::paintEvent(event);
        if (!hasFocus())
            return;
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        // 3:1 against what lies beneath, as a control's outline needs.
        p.setPen(QPen(style::legible(style::blue(), style::backdrop(this), 3.0), kFocusRingWidth));
        p.setBrush(Qt::NoBrush);
        const qreal inset = kFocusRingWidth / 2;
        p.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), 3, 3);
    }
};

QToolButton*
plainSymbolButton(const QString& name, Tone tone, const QPalette& panel, const QFont& font, QWidget* parent)
{
    auto* b = new SymbolButton(parent);
    const int size = QFontMetrics(font).height() - 2;
    b->setProperty("symbol", name);
    applyTone(b, tone, panel);
    b->setIconSize(QSize(size, size));
    // Room for the focus ring around the symbol.
    b->setFixedSize(size + 2 * kFocusRingRoom, size + 2 * kFocusRingRoom);
    b->setAutoRaise(true);
    b->setCursor(Qt::PointingHandCursor);
    b->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0px; background: transparent; }"));
    return b;
}

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// A group box whose content starts with a caption-bold title beside a symbol.
QGroupBox*
groupBox(const QString& title, const QString& symbol, const QFont& body, QWidget* parent, QVBoxLayout** content)
{
    auto* box = new QGroupBox(parent);
    auto* layout = new QVBoxLayout(box);
    layout->setSpacing(kBoxContentSpacing);
    layout->setContentsMargins(8, 2 + 6, 8, 2 + 6);
    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(4);
    QFont bold = style::caption(body);
    bold.setBold(true);
    QLabel* titleSymbol = symbolLabel(symbol, QColor(), bold, box);
    applyTone(titleSymbol, Tone::primary, box->palette());
    titleRow->addWidget(titleSymbol);
    QLabel* titleLabel = label(title, bold, Tone::primary, box->palette(), box);
    titleLabel->setObjectName(QStringLiteral("boxTitle"));
    titleRow->addWidget(titleLabel);
    titleRow->addStretch(1);
    layout->addLayout(titleRow);
    *content = layout;
    return box;
}

} // namespace

SettingsView::Desktop SettingsView::defaultDesktop()
{
    return Desktop{
        [](QWidget* parent, const QString& message) {
            return QFileDialog::getExistingDirectory(parent, message, QDir::homePath(), QFileDialog::ShowDirsOnly);
        },
        [](const QUrl& url) { QDesktopServices::openUrl(url); },
        [] { QCoreApplication::quit(); },
    };
}

void SettingsView::setDesktopForTesting(std::optional<Desktop> replacement)
{
    gDesktopOverride = std::move(replacement);
}

SettingsView::SettingsView(AppState* appState,
                           store::ModelContext* modelContext,
                           QUrl projectsApiBaseUrl,
                           QWidget* parent)
    : QWidget(parent)
    , m_appState(appState)
    , m_modelContext(modelContext)
    , m_projectsApiBaseUrl(std::move(projectsApiBaseUrl))
{
    setWindowTitle(tr("Jot Warden"));
    m_ownerFetches = new OwnerFetches(this);
    buildUi();
    if (m_modelContext)
        connect(m_modelContext, &store::ModelContext::changed, this, &SettingsView::storeChanged);
    if (m_appState) {
        connect(m_appState, &AppState::isWatchingEnabledChanged, this, &SettingsView::refreshHeader);
        connect(m_appState, &AppState::githubTokenChanged, this, [this] {
            // Another token may see boards the last one could not.
            m_ownerFetches->empty.clear();
            refreshToken();
            for (const DirectoryRow& row : std::as_const(m_rows))
                row.picker->setToken(m_appState->githubToken());
        });
        connect(m_appState, &AppState::keyringStateChanged, this, &SettingsView::refreshToken);
        connect(m_appState, &AppState::recentIssuesChanged, this, &SettingsView::scheduleRefresh);
    }
    // Ticks only while the panel is on screen, so an idle program does not wake up for it.
    m_dateTimer = new QTimer(this);
    m_dateTimer->setInterval(kDateRefreshMs);
    connect(m_dateTimer, &QTimer::timeout, this, &SettingsView::refreshDates);
    refresh();
}

SettingsView::~SettingsView() = default;

void SettingsView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // Deferred: the view hears of a new palette before its children take it, and what lies
    // beneath a text is read off the children.
    if ((event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) && !m_recolourQueued) {
        m_recolourQueued = true;
        QMetaObject::invokeMethod(this, &SettingsView::recolour, Qt::QueuedConnection);
    }
}

void SettingsView::recolour()
{
    m_recolourQueued = false;
    for (QWidget* widget : findChildren<QWidget*>()) {
        const QVariant tone = widget->property(kToneProperty);
        if (tone.isValid())
            applyTone(widget, Tone(tone.toInt()), palette());
    }
    refreshHeader();
    refreshToken();
}

void SettingsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refreshDates();
    // The limit can be reached by directories made since the last look.
    refreshWatchNotice();
    m_dateTimer->start();
}

void SettingsView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_dateTimer->stop();
}

void SettingsView::refreshDates()
{
    // Only the words move with the clock; the rows and their buttons stay.
    const QDateTime now = QDateTime::currentDateTime();
    for (QLabel* date : m_recentBox->findChildren<QLabel*>(QStringLiteral("relativeDate")))
        date->setText(relativeDateText(date->property("createdAt").toDateTime(), now));
}

// ---- live queries ----

void SettingsView::storeChanged()
{
    m_queriesStale = true;
    scheduleRefresh();
}

void SettingsView::reloadQueries()
{
    if (!m_queriesStale || !m_modelContext)
        return;
    m_queriesStale = false;
    // A failed fetch keeps what the query showed before.
    if (auto s = m_modelContext->fetch<AppSettings>())
        m_settings = std::move(s.value());
    if (auto d = m_modelContext->fetch<WatchedDirectory>(
            store::SortDescriptor<WatchedDirectory>::by(&WatchedDirectory::addedAt, true)))
        m_directories = std::move(d.value());
    if (auto p = m_modelContext->fetch<ProjectCache>())
        m_cachedProjects = std::move(p.value());
}

const std::vector<std::shared_ptr<AppSettings>>& SettingsView::settings()
{
    reloadQueries();
    return m_settings;
}

const std::vector<std::shared_ptr<WatchedDirectory>>& SettingsView::directories()
{
    reloadQueries();
    return m_directories;
}

const std::vector<std::shared_ptr<ProjectCache>>& SettingsView::cachedProjects()
{
    reloadQueries();
    return m_cachedProjects;
}

void SettingsView::scheduleRefresh()
{
    // Coalesced and deferred: a change can come from inside a row's own button or menu item,
    // which a rebuild must not delete under it.
    if (m_refreshQueued)
        return;
    m_refreshQueued = true;
    QMetaObject::invokeMethod(this, &SettingsView::refresh, Qt::QueuedConnection);
}

void SettingsView::refresh()
{
    m_refreshQueued = false;
    reloadQueries();
    refreshHeader();
    refreshToken();
    refreshDirectories();
    refreshRecent();
    updateTabOrder();
}

// Tab walks the panel as it reads, top to bottom, whatever order the rows were made in.
void SettingsView::updateTabOrder()
{
    QList<QWidget*> chain{m_switch, m_changeButton, m_tokenField, m_saveButton};
    for (const auto& directory : m_directories) {
        const DirectoryRow row = m_rows.value(directory.get());
        if (row.row)
            chain << row.picker << row.remove;
    }
    chain << m_addButton;
    for (int i = 0; i < m_recentRows->count(); ++i)
        if (QWidget* row = m_recentRows->itemAt(i)->widget())
            if (auto* open = row->findChild<QToolButton*>(QStringLiteral("openIssueButton")))
                chain << open;
    chain << m_quitButton;
    for (qsizetype i = 0; i + 1 < chain.size(); ++i)
        QWidget::setTabOrder(chain[i], chain[i + 1]);
}

// ---- layout ----

void SettingsView::buildUi()
{
    auto* root = new QVBoxLayout(this);
    root->setSpacing(0);
    root->setContentsMargins(0, 0, 0, 0);
    root->addWidget(buildHeader());
    root->addWidget(divider(this));

    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("scrollArea"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // It would be a stop of its own for Tab, with nothing to show for it; the area scrolls to
    // whatever control inside it takes the focus.
    scroll->setFocusPolicy(Qt::NoFocus);
    auto* content = new QWidget(scroll);
    content->setObjectName(QStringLiteral("scrollContent"));
    auto* stack = new QVBoxLayout(content);
    stack->setSpacing(kBoxSpacing);
    stack->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    stack->addWidget(buildTokenBox());
    stack->addWidget(buildDirectoriesBox());
    stack->addWidget(buildRecentBox());
    stack->addStretch(1);
    scroll->setWidget(content);
    root->addWidget(scroll, 1);

    root->addWidget(divider(this));
    root->addWidget(buildFooter());
}

QWidget* SettingsView::buildHeader()
{
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    auto* symbol = new QLabel(header);
    const int size = QFontMetrics(font()).height() + 2;
    symbol->setPixmap(JotwardenApp::menuBarIcon().pixmap(size, size));
    symbol->setObjectName(QStringLiteral("headerSymbol"));
    row->addWidget(symbol);
    QLabel* title = label(tr("Jot Warden"), style::headline(font()), Tone::primary, palette(), header);
    title->setObjectName(QStringLiteral("title"));
    row->addWidget(title);
    row->addStretch(1);
    m_switch = new ToggleSwitch(header);
    m_switch->setObjectName(QStringLiteral("watchSwitch"));
    m_switch->setAccessibleName(tr("Watching"));
    connect(m_switch, &QAbstractButton::clicked, this, [this](bool value) { setWatching(value); });
    row->addWidget(m_switch);
    m_status = label(QString(), style::caption(font()), style::primary(palette()), header);
    m_status->setObjectName(QStringLiteral("status"));
    row->addWidget(m_status);
    return header;
}

QGroupBox* SettingsView::buildTokenBox()
{
    QVBoxLayout* content = nullptr;
    QGroupBox* box = groupBox(tr("GitHub Token"), QStringLiteral("key.fill"), font(), this, &content);
    box->setObjectName(QStringLiteral("tokenBox"));

    m_maskedRow = new QWidget(box);
    auto* masked = new QHBoxLayout(m_maskedRow);
    masked->setContentsMargins(0, 0, 0, 0);
    QLabel* maskedText =
        label(kMaskedToken, style::monospaced(style::caption(font())), Tone::secondary, palette(), m_maskedRow);
    maskedText->setObjectName(QStringLiteral("maskedToken"));
    masked->addWidget(maskedText);
    masked->addStretch(1);
    m_changeButton = new QPushButton(tr("Change"), m_maskedRow);
    m_changeButton->setObjectName(QStringLiteral("changeTokenButton"));
    m_changeButton->setFont(style::caption(font()));
    connect(m_changeButton, &QPushButton::clicked, this, &SettingsView::beginTokenChange);
    masked->addWidget(m_changeButton);
    content->addWidget(m_maskedRow);

    m_entryRow = new QWidget(box);
    auto* entry = new QHBoxLayout(m_entryRow);
    entry->setContentsMargins(0, 0, 0, 0);
    entry->setSpacing(8);
    m_tokenField = new QLineEdit(m_entryRow);
    m_tokenField->setObjectName(QStringLiteral("tokenField"));
    m_tokenField->setEchoMode(QLineEdit::Password);
    m_tokenField->setPlaceholderText(QStringLiteral("ghp_..."));
    m_tokenField->setFont(style::monospaced(style::caption(font())));
    m_tokenField->setClearButtonEnabled(false);
    connect(m_tokenField, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_tokenInput = text;
        m_saveButton->setEnabled(!m_saving && !KeychainHelper::trimmedToken(m_tokenInput).isEmpty());
    });
    entry->addWidget(m_tokenField, 1);
    m_saveButton = new QPushButton(tr("Save"), m_entryRow);
    m_saveButton->setObjectName(QStringLiteral("saveTokenButton"));
    m_saveButton->setEnabled(false);
    // Return in the field runs nothing, so Save must never be the dialog's default button.
    m_saveButton->setAutoDefault(false);
    connect(m_saveButton, &QPushButton::clicked, this, &SettingsView::saveToken);
    entry->addWidget(m_saveButton);
    content->addWidget(m_entryRow);

    m_tokenMessage = label(QString(), style::caption(font()), errorRed(palette()), box);
    m_tokenMessage->setObjectName(QStringLiteral("tokenMessage"));
    m_tokenMessage->setWordWrap(true);
    m_tokenMessage->hide();
    content->addWidget(m_tokenMessage);
    return box;
}

QGroupBox* SettingsView::buildDirectoriesBox()
{
    QVBoxLayout* content = nullptr;
    QGroupBox* box = groupBox(tr("Watched Directories"), QStringLiteral("folder.fill"), font(), this, &content);
    box->setObjectName(QStringLiteral("directoriesBox"));
    m_noDirectories = label(tr("No directories added yet."), style::caption(font()), Tone::secondary, palette(), box);
    m_noDirectories->setObjectName(QStringLiteral("noDirectories"));
    m_noDirectories->setContentsMargins(0, 4, 0, 4);
    content->addWidget(m_noDirectories);
    m_directoryRows = new QVBoxLayout;
    m_directoryRows->setSpacing(kBoxContentSpacing);
    m_directoryRows->setContentsMargins(0, 0, 0, 0);
    content->addLayout(m_directoryRows);

    m_watchNotice = label(QString(), style::caption(font()), Tone::secondary, palette(), box);
    m_watchNotice->setObjectName(QStringLiteral("watchNotice"));
    m_watchNotice->setWordWrap(true);
    m_watchNotice->hide();
    content->addWidget(m_watchNotice);

    auto* addRow = new QHBoxLayout;
    addRow->setContentsMargins(0, 2, 0, 0);
    m_addButton = new QPushButton(tr("Add Directory..."), box);
    m_addButton->setObjectName(QStringLiteral("addDirectoryButton"));
    m_addButton->setFont(style::caption(font()));
    const int plusSize = QFontMetrics(m_addButton->font()).height() - 2;
    m_addButton->setProperty("symbol", QStringLiteral("plus"));
    applyTone(m_addButton, Tone::primary, palette());
    m_addButton->setIconSize(QSize(plusSize, plusSize));
    m_addButton->setAutoDefault(false);
    connect(m_addButton, &QPushButton::clicked, this, &SettingsView::addDirectory);
    addRow->addWidget(m_addButton);
    addRow->addStretch(1);
    content->addLayout(addRow);
    return box;
}

QGroupBox* SettingsView::buildRecentBox()
{
    QVBoxLayout* content = nullptr;
    m_recentBox = groupBox(tr("Recent Issues"), QStringLiteral("checkmark.circle.fill"), font(), this, &content);
    m_recentBox->setObjectName(QStringLiteral("recentBox"));
    m_recentRows = new QVBoxLayout;
    m_recentRows->setSpacing(kBoxContentSpacing);
    m_recentRows->setContentsMargins(0, 0, 0, 0);
    content->addLayout(m_recentRows);
    return m_recentBox;
}

QWidget* SettingsView::buildFooter()
{
    auto* footer = new QWidget(this);
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(kPadding, 8, kPadding, 8);
    m_quitButton = new QPushButton(tr("Quit Jot Warden"), footer);
    m_quitButton->setObjectName(QStringLiteral("quitButton"));
    m_quitButton->setFont(style::caption(font()));
    applyTone(m_quitButton, Tone::secondaryLevel, palette());
    m_quitButton->setAutoDefault(false);
    connect(m_quitButton, &QPushButton::clicked, this, &SettingsView::quit);
    row->addWidget(m_quitButton);
    row->addStretch(1);
    QLabel* version = label(QStringLiteral("v2.0.0"), style::caption2(font()), Tone::quaternary, palette(), footer);
    version->setObjectName(QStringLiteral("version"));
    row->addWidget(version);
    return footer;
}

QWidget* SettingsView::makeDirectoryRow(const std::shared_ptr<WatchedDirectory>& directory)
{
    auto* row = new QWidget;
    row->setObjectName(QStringLiteral("directoryRow"));
    auto* layout = new QHBoxLayout(row);
    layout->setSpacing(kDirectoryRowSpacing);
    layout->setContentsMargins(0, 2, 0, 2);
    const QFont caption = style::caption(font());
    layout->addWidget(symbolLabel(QStringLiteral("folder.fill"), style::withAlpha(style::blue(), 0.7), caption, row));
    auto* path = new ElidedLabel(directory->displayPath(), Qt::ElideMiddle, row);
    path->setObjectName(QStringLiteral("displayPath"));
    path->setToolTip(path->text());
    path->setFont(style::monospaced(caption));
    path->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(path, 1);
    auto* picker = new ProjectDropdownButton(directory,
                                             m_cachedProjects,
                                             m_appState ? m_appState->githubToken() : std::nullopt,
                                             m_modelContext,
                                             m_projectsApiBaseUrl,
                                             row);
    picker->setObjectName(QStringLiteral("projectPicker"));
    picker->setOwnerFetches(m_ownerFetches);
    layout->addWidget(picker);
    QToolButton* remove =
        plainSymbolButton(QStringLiteral("xmark.circle.fill"), Tone::secondaryLevel, palette(), caption, row);
    remove->setObjectName(QStringLiteral("removeDirectoryButton"));
    remove->setToolTip(tr("Remove"));
    std::weak_ptr<WatchedDirectory> weak = directory;
    connect(remove, &QToolButton::clicked, this, [this, weak] {
        if (auto d = weak.lock())
            removeDirectory(d);
    });
    layout->addWidget(remove);
    m_rows.insert(directory.get(), DirectoryRow{row, path, picker, remove});
    return row;
}

// ---- refreshing what is shown ----

void SettingsView::refreshHeader()
{
    const bool watching = m_appState ? m_appState->isWatchingEnabled() : true;
    m_switch->setChecked(watching);
    m_status->setText(watching ? tr("Active") : tr("Paused"));
    QPalette pal = m_status->palette();
    // Green as it is would be too pale to read on a light panel.
    const QColor active = style::legible(style::green(), palette().color(QPalette::Window));
    pal.setColor(QPalette::WindowText, watching ? active : style::secondary(palette()));
    m_status->setPalette(pal);
}

void SettingsView::refreshToken()
{
    const bool hasToken = m_appState && m_appState->githubToken().has_value();
    const bool masked = hasToken && !m_showTokenField;
    m_maskedRow->setVisible(masked);
    m_entryRow->setVisible(!masked);
    if (m_tokenField->text() != m_tokenInput)
        m_tokenField->setText(m_tokenInput);
    m_saveButton->setEnabled(!m_saving && !KeychainHelper::trimmedToken(m_tokenInput).isEmpty());

    const QString message = tokenMessage();
    // Waiting for the user's answer to an unlock prompt is no failure.
    const bool waiting =
        m_saving
        || (m_saveMessage.isEmpty() && m_appState && m_appState->keyringState() == KeyringState::waitingForUnlock);
    QPalette pal = m_tokenMessage->palette();
    pal.setColor(QPalette::WindowText,
                 waiting ? style::secondaryOn(palette(), style::backdrop(m_tokenMessage)) : errorRed(palette()));
    m_tokenMessage->setPalette(pal);
    m_tokenMessage->setText(message);
    m_tokenMessage->setVisible(!message.isEmpty());
}

QString SettingsView::tokenMessage() const
{
    if (!m_saveMessage.isEmpty())
        return m_saveMessage;
    switch (m_appState ? m_appState->keyringState() : KeyringState::available) {
    case KeyringState::available:
        return {};
    case KeyringState::notRunning:
        return tr(kNoKeyringMessage);
    case KeyringState::waitingForUnlock:
        return tr(kLockedAtStartMessage);
    case KeyringState::stayedLocked:
        return tr(kStayedLockedAtStartMessage);
    }
    return {};
}

void SettingsView::refreshDirectories()
{
    const auto& list = m_directories;
    m_noDirectories->setVisible(list.empty());

    // Rows are kept per record, so a picker in the middle of a fetch or with its menu open survives.
    QHash<WatchedDirectory*, DirectoryRow> kept;
    for (const auto& directory : list) {
        if (!m_rows.contains(directory.get()))
            makeDirectoryRow(directory);
        DirectoryRow row = m_rows.take(directory.get());
        row.path->setText(directory->displayPath());
        row.path->setToolTip(row.path->text());
        row.remove->setAccessibleName(tr("Remove %1").arg(directory->displayPath()));
        row.picker->setCachedProjects(m_cachedProjects);
        row.picker->setToken(m_appState ? m_appState->githubToken() : std::nullopt);
        kept.insert(directory.get(), row);
    }
    for (const DirectoryRow& gone : std::as_const(m_rows)) {
        gone.row->hide();
        gone.row->deleteLater();
    }
    m_rows = kept;
    int index = 0;
    for (const auto& directory : list) {
        QWidget* row = m_rows.value(directory.get()).row;
        m_directoryRows->removeWidget(row);
        m_directoryRows->insertWidget(index++, row);
        row->show();
    }
    refreshWatchNotice();
}

void SettingsView::refreshWatchNotice()
{
    const FileWatcher* watcher = m_appState ? m_appState->fileWatcher() : nullptr;
    const QStringList missing = watcher ? watcher->directoriesMissingWatches() : QStringList();
    QStringList shownPaths;
    for (const auto& directory : m_directories) {
        if (missing.contains(directory->path()))
            shownPaths << directory->displayPath();
    }
    m_watchNotice->setText(shownPaths.isEmpty() ? QString()
                                                : tr(kWatchLimitMessage).arg(shownPaths.join(QStringLiteral(", "))));
    m_watchNotice->setVisible(!shownPaths.isEmpty());
}

void SettingsView::refreshRecent()
{
    while (QLayoutItem* item = m_recentRows->takeAt(0)) {
        if (QWidget* w = item->widget()) {
            w->hide();
            w->deleteLater();
        }
        delete item;
    }
    const QList<CreatedIssue> issues = m_appState ? m_appState->recentIssues() : QList<CreatedIssue>();
    m_recentBox->setVisible(!issues.isEmpty());
    const QDateTime now = QDateTime::currentDateTime();
    const QFont caption = style::caption(font());
    const QFont caption2 = style::caption2(font());
    for (const CreatedIssue& issue : issues.mid(0, kRecentRows)) {
        auto* row = new QWidget(m_recentBox);
        row->setObjectName(QStringLiteral("recentRow"));
        row->setProperty("issueId", issue.id);
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 1, 0, 1);
        layout->addWidget(symbolLabel(QStringLiteral("checkmark.circle.fill"), style::green(), caption2, row));
        QFont numberFont = style::monospaced(caption);
        numberFont.setBold(true);
        QLabel* number = label(tr("#%1").arg(issue.issueNumber), numberFont, Tone::primary, palette(), row);
        number->setObjectName(QStringLiteral("issueNumber"));
        layout->addWidget(number);
        auto* repo = new ElidedLabel(issue.repoFullName, Qt::ElideRight, row);
        repo->setObjectName(QStringLiteral("repoName"));
        repo->setFont(caption);
        applyTone(repo, Tone::secondary, palette());
        repo->setToolTip(issue.repoFullName);
        layout->addWidget(repo);
        layout->addStretch(1);
        QLabel* date = label(relativeDateText(issue.createdAt, now), caption2, Tone::secondary, palette(), row);
        date->setObjectName(QStringLiteral("relativeDate"));
        date->setProperty("createdAt", issue.createdAt);
        layout->addWidget(date);
        QToolButton* open =
            plainSymbolButton(QStringLiteral("arrow.up.right"), Tone::primary, palette(), caption2, row);
        open->setObjectName(QStringLiteral("openIssueButton"));
        open->setToolTip(issue.issueURL);
        open->setAccessibleName(tr("Open issue #%1").arg(issue.issueNumber));
        connect(open, &QToolButton::clicked, this, [this, issue] { openIssue(issue); });
        layout->addWidget(open);
        m_recentRows->addWidget(row);
    }
}

QList<ProjectDropdownButton*> SettingsView::projectPickers() const
{
    QList<ProjectDropdownButton*> out;
    for (int i = 0; i < m_directoryRows->count(); ++i)
        if (QWidget* row = m_directoryRows->itemAt(i)->widget())
            if (auto* picker = row->findChild<ProjectDropdownButton*>())
                out << picker;
    return out;
}

// ---- actions ----

void SettingsView::beginTokenChange()
{
    m_showTokenField = true;
    m_tokenInput.clear();
    refreshToken();
    m_tokenField->setFocus();
}

void SettingsView::saveToken()
{
    const QString token = KeychainHelper::trimmedToken(m_tokenInput);
    if (token.isEmpty() || m_saving)
        return;
    // The field stays open with its text until the keyring has the token: a locked keyring
    // answers only once the user has dealt with its prompt, and a failure leaves the text to retry.
    m_saving = true;
    m_showTokenField = true;
    m_saveMessage.clear();
    refreshToken();
    KeychainHelper::saveTokenInBackground(
        this,
        token,
        [this] {
            m_saveMessage = tr(kUnlockToSaveMessage);
            refreshToken();
        },
        [this, token](int status) {
            m_saving = false;
            if (status == KeychainStatus::success) {
                if (m_appState) {
                    m_appState->setGithubToken(token);
                    m_appState->setKeyringState(KeyringState::available);
                }
                m_saveMessage.clear();
                m_tokenInput.clear();
                m_showTokenField = false;
            } else if (status == KeychainStatus::notAvailable) {
                m_saveMessage = tr(kNoKeyringMessage);
                log(QStringLiteral("Token not saved: no keyring (Secret Service) is running"));
            } else if (status == KeychainStatus::interactionNotAllowed) {
                m_saveMessage = tr(kSaveStayedLockedMessage);
                log(QStringLiteral("Token not saved: the keyring stayed locked"));
            } else {
                const QString reason = KeychainError::saveFailed(status).description;
                m_saveMessage = tr("The token was not saved: %1").arg(reason);
                log(QStringLiteral("Token not saved: ") + reason);
            }
            refreshToken();
        });
}

void SettingsView::addDirectory()
{
    const QPointer<QWidget> panel = window();
    const bool wasShown = panel->isVisible();
    const QString chosen = desktop().chooseDirectory(panel, tr(kChooserMessage));
    // The tray's panel is a popup, which closes when the modal chooser opens: bring it back.
    if (panel && wasShown && !panel->isVisible()) {
        panel->show();
        panel->raise();
        panel->activateWindow();
    }
    if (chosen.isEmpty())
        return;
    QString path = chosen;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    for (const auto& directory : directories())
        if (directory->path() == path)
            return;
    if (!m_modelContext)
        return;
    m_modelContext->insert(std::make_shared<WatchedDirectory>(path, true));
    (void)m_modelContext->save();
    restartWatcher();
}

void SettingsView::removeDirectory(const std::shared_ptr<WatchedDirectory>& directory)
{
    if (!directory || !m_modelContext)
        return;
    m_modelContext->remove(directory);
    (void)m_modelContext->save();
    restartWatcher();
}

void SettingsView::restartWatcher()
{
    if (!m_appState || !m_appState->fileWatcher())
        return;
    QStringList paths;
    for (const auto& directory : directories())
        if (directory->isEnabled())
            paths << directory->path();
    m_appState->fileWatcher()->start(paths, true);
    refreshWatchNotice();
}

void SettingsView::setWatching(bool value)
{
    if (m_appState)
        m_appState->setIsWatchingEnabled(value);
    if (const auto& records = settings(); !records.empty() && m_modelContext) {
        records.front()->setIsWatchingEnabled(value);
        (void)m_modelContext->save();
    }
    if (value)
        restartWatcher();
    else if (m_appState && m_appState->fileWatcher())
        m_appState->fileWatcher()->stop();
    refreshWatchNotice();
    // The switch shows the state in memory, whatever the click did to the button.
    refreshHeader();
}

void SettingsView::openIssue(const CreatedIssue& issue)
{
    const QUrl url(issue.issueURL, QUrl::StrictMode);
    if (issue.issueURL.isEmpty() || !url.isValid())
        return;
    desktop().openUrl(url);
}

void SettingsView::quit()
{
    desktop().quit();
}

} // namespace jw
