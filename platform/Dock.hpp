#pragma once
// The application's dock entry: a badge label and attention requests.

#include <memory>
#include <optional>
#include <string>

namespace platform {

enum class AttentionRequest { Critical = 0, Informational = 10 };

class Dock {
public:
    virtual ~Dock() = default;
    virtual void requestUserAttention(AttentionRequest kind) = 0;
    // Shows `label` as the badge, or removes the badge when it is absent.
    virtual void setBadgeLabel(const std::optional<std::string>& label) = 0;
    virtual std::optional<std::string> badgeLabel() const = 0;

    // The process-wide dock (one that keeps the label and shows nothing, until
    // the desktop layer installs its own).
    static Dock& shared();
    static void setShared(std::shared_ptr<Dock> dock);
};

}  // namespace platform
