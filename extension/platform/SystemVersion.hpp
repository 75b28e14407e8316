#pragma once
// The running system's version, as process information reports it. This
// platform has no version of the system the extension was designed for, so
// it reports the newest behaviour the extension knows (14.0.0); tests set
// any version they need.

#include <optional>

namespace extension::platform {

struct OperatingSystemVersion {
    int majorVersion = 0;
    int minorVersion = 0;
    int patchVersion = 0;
};

namespace processInfo {

OperatingSystemVersion operatingSystemVersion();

// True when the running system is the given version or later.
bool isOperatingSystemAtLeastVersion(const OperatingSystemVersion& version);

// Overrides the reported version (std::nullopt restores the default).
void setOperatingSystemVersionForTesting(std::optional<OperatingSystemVersion> version);

}  // namespace processInfo

}  // namespace extension::platform
