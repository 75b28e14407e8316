#pragma once
// Opening addresses in the user's default handler (the default browser for web links).

#include <memory>
#include <string>

namespace platform {

class Workspace {
public:
    virtual ~Workspace() = default;
    // Fire and forget: the outcome is not reported.
    virtual void openURL(const std::string& url) = 0;

    // The process-wide workspace: the desktop's default handlers once the
    // window layer is up; before that (and without a window) it opens nothing.
    static Workspace& shared();
    // Replaces the shared workspace (tests); nullptr restores the default.
    static void setShared(std::shared_ptr<Workspace> workspace);
};

}  // namespace platform
