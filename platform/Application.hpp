#pragma once
// The application object and its windows, shaped after what the shell expects
// of a desktop toolkit: a delegate told when launching has finished, a window
// list, a main menu, activation, and a responder chain that carries
// argument-less actions (named by selector strings such as "copy:" or
// "fetchCurrentTab") from the key window to whoever performs them.

#include <memory>
#include <string>
#include <vector>

namespace platform {

class Menu;
class Window;

using Selector = std::string;

// Anything that can perform actions by name.
class Responder {
public:
    virtual ~Responder() = default;
    virtual bool respondsToSelector(const Selector& selector) const = 0;
    // Performs `selector`; does nothing when the responder does not answer it.
    virtual void performSelector(const Selector& selector) = 0;
};

struct Size {
    int width = 0;
    int height = 0;
    bool operator==(const Size&) const = default;
};

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    // Launching is complete: the windows of the interface exist.
    virtual void applicationDidFinishLaunching() {}
    // Asked when the last window has closed; yes quits the application.
    virtual bool applicationShouldTerminateAfterLastWindowClosed() { return false; }
};

// One top-level window. The window answers the standard window actions
// ("performClose:", "performMiniaturize:").
class Window : public Responder {
public:
    // The content area's size, without the menu bar and the frame.
    virtual void setContentSize(Size size) = 0;
    virtual Size contentSize() const = 0;
    // The smallest size the user can give the window (menu bar included).
    virtual void setMinSize(Size size) = 0;
    virtual Size minSize() const = 0;
    virtual void setTitle(const std::string& title) = 0;
    virtual std::string title() const = 0;
    // Centres the window on its screen.
    virtual void center() = 0;
    // Shows the window, raises it and gives it the keyboard focus.
    virtual void makeKeyAndOrderFront() = 0;
    virtual void performClose() = 0;
    virtual void performMiniaturize() = 0;
    virtual bool isVisible() const = 0;
    virtual bool isMiniaturized() const = 0;
    virtual bool isKeyWindow() const = 0;
    // The window's frame on the screen (frame extents included where known).
    virtual Rect frame() const = 0;

    // The controller of the window's content; it is next in the responder
    // chain after the first responder.
    std::shared_ptr<Responder> contentViewController;
    // The view that receives the keyboard (the web view); first in the chain.
    std::shared_ptr<Responder> firstResponder;
};

class Application : public Responder {
public:
    // The process-wide application object (installed by the desktop layer).
    static Application& shared();
    static bool hasShared();
    static void setShared(std::shared_ptr<Application> application);

    void setDelegate(ApplicationDelegate* delegate) { delegate_ = delegate; }
    ApplicationDelegate* delegate() const { return delegate_; }

    // The open windows, oldest first.
    virtual std::vector<Window*> windows() const = 0;
    // The window that has the keyboard focus, if it is one of ours.
    virtual Window* keyWindow() const = 0;
    // The frontmost visible, not minimised window.
    virtual Window* mainWindow() const = 0;

    virtual std::shared_ptr<Menu> mainMenu() const = 0;
    virtual void setMainMenu(std::shared_ptr<Menu> menu) = 0;
    virtual std::shared_ptr<Menu> windowsMenu() const = 0;
    virtual void setWindowsMenu(std::shared_ptr<Menu> menu) = 0;

    virtual void activateIgnoringOtherApps(bool flag) = 0;

    // Finishes launching: tells the delegate, then shows the windows.
    virtual void finishLaunching() = 0;
    // finishLaunching, then runs the main loop until terminate. Returns the exit status.
    virtual int run() = 0;
    virtual void terminate() = 0;

    // The responder chain: an explicit target when it answers the action;
    // otherwise the key window's first responder, its content view
    // controller, the window, then the main window's (when another), the
    // application and its delegate. nullptr when nobody answers.
    Responder* targetForAction(const Selector& action, Responder* target = nullptr) const;
    // Sends `action` to targetForAction; false when nobody answered.
    bool sendAction(const Selector& action, Responder* target = nullptr);

private:
    ApplicationDelegate* delegate_ = nullptr;
};

}  // namespace platform
