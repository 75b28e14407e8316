// Defaults of the shared alert presenter and dock, for a process without a window.
#include "platform/Alert.hpp"
#include "platform/Dock.hpp"

#include <mutex>

namespace platform {
namespace {

class NoPanels final : public AlertPresenter {
public:
    int runModal(const Alert&) override { return kModalResponseAbort; }
};

class LabelOnlyDock final : public Dock {
public:
    void requestUserAttention(AttentionRequest) override {}
    void setBadgeLabel(const std::optional<std::string>& label) override { label_ = label; }
    std::optional<std::string> badgeLabel() const override { return label_; }

private:
    std::optional<std::string> label_;
};

std::mutex mutex;

template <typename Interface, typename Default>
Interface& sharedInstance(std::shared_ptr<Interface>& slot) {
    std::lock_guard lock(mutex);
    if (!slot) slot = std::make_shared<Default>();
    return *slot;
}

std::shared_ptr<AlertPresenter> presenter;
std::shared_ptr<Dock> dock;

}  // namespace

int Alert::runModal() const { return AlertPresenter::shared().runModal(*this); }

AlertPresenter& AlertPresenter::shared() { return sharedInstance<AlertPresenter, NoPanels>(presenter); }
void AlertPresenter::setShared(std::shared_ptr<AlertPresenter> next) {
    std::lock_guard lock(mutex);
    presenter = std::move(next);
}

Dock& Dock::shared() { return sharedInstance<Dock, LabelOnlyDock>(dock); }
void Dock::setShared(std::shared_ptr<Dock> next) {
    std::lock_guard lock(mutex);
    dock = std::move(next);
}

}  // namespace platform
