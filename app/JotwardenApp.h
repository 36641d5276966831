#pragma once

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>

#include <memory>

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

    // The process entry: runs the application on the GUI thread until it quits.
    static int main(int argc, char** argv);

    AppDelegate* appDelegate() const { return m_appDelegate.get(); }
    QWidget* panel() const { return m_panel; }
    QSystemTrayIcon* trayIcon() const { return m_trayIcon; }

    // Creates the tray icon, or shows the panel as a window when there is no tray.
    void showScene();
    void togglePanel();

    static QIcon menuBarIcon();

private:
    QWidget* makeMenuContent();

    std::unique_ptr<AppDelegate> m_appDelegate;
    QPointer<QWidget> m_panel;
    QSystemTrayIcon* m_trayIcon = nullptr;
};

} // namespace jw
