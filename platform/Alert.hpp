#pragma once
// Modal alert panels: a message and buttons, answered with the index of the
// button that closed the panel, as a response code.

#include <memory>
#include <string>
#include <vector>

namespace platform {

// Response codes of runModal.
constexpr int kAlertFirstButtonReturn = 1000;   // first button; the second is 1001, ...
constexpr int kModalResponseCancel = 0;         // the panel was closed without a button
constexpr int kModalResponseAbort = -1001;      // no panel could be shown

struct Alert {
    std::string messageText;
    std::vector<std::string> buttons;

    void addButtonWithTitle(std::string title) { buttons.push_back(std::move(title)); }
    // Shows the panel modally on the main thread and returns how it was closed.
    int runModal() const;
};

// What shows the panels. The default shows none and answers kModalResponseAbort.
class AlertPresenter {
public:
    virtual ~AlertPresenter() = default;
    virtual int runModal(const Alert& alert) = 0;

    static AlertPresenter& shared();
    static void setShared(std::shared_ptr<AlertPresenter> presenter);
};

}  // namespace platform
