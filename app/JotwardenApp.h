#pragma once

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QUrl>
#include <QWidget>

#include <memory>
#include <optional>

namespace jw {

class AppDelegate;

// The application scene: the delegate, and the tray icon whose panel window shows the
// settings. Where the desktop has no tray, the panel opens as an ordinary window.
class JotwardenApp : public QObject
{
    Q_OBJECT
public:
    static constexpr int kPanelWidth = 480;
    static constexpr int kPanelHeight = 440;

    JotwardenApp();
    ~JotwardenApp() override;

    // The process entry: runs the application on the GUI thread until it quits. The API address
    // is for the tests' build only, which files against their fake server on this machine.
    static int main(int argc, char** argv, std::optional<QUrl> gitHubApiBaseUrl = std::nullopt);

    AppDelegate* appDelegate() const { return m_appDelegate.get(); }
    QWidget* panel() const { return m_panel; }
    QSystemTrayIcon* trayIcon() const { return m_trayIcon; }

    // Waits briefly for a tray host, then creates the tray icon, or shows the panel as a window
    // when no tray comes.
    void showScene();
    // How long to wait for a tray host that is not there yet (a session just starting).
    static constexpr int kTrayHostWaitMs = 5000;
    void togglePanel();
    // Brings the panel up (next to the icon, or the window raised); before the scene has settled
    // on tray or window, as soon as it has.
    void showPanel();

    static QIcon menuBarIcon();

Q_SIGNALS:
    void sceneShown();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* makeMenuContent();
    void createTrayOrWindow();

    std::unique_ptr<AppDelegate> m_appDelegate;
    QPointer<QWidget> m_panel;
    QSystemTrayIcon* m_trayIcon = nullptr;
    bool m_sceneSettled = false;
    bool m_showPanelWhenSettled = false;
};

} // namespace jw
