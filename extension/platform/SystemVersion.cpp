#include "extension/platform/SystemVersion.hpp"

#include <atomic>
#include <tuple>

namespace extension::platform::processInfo {

namespace {

constexpr OperatingSystemVersion kReportedVersion{14, 0, 0};

// Packed into one word so that readers on any thread see a whole version.
std::atomic<long long> overrideVersion{-1};

long long pack(const OperatingSystemVersion& v) {
    return (static_cast<long long>(v.majorVersion) << 40) |
           (static_cast<long long>(v.minorVersion & 0xFFFFF) << 20) |
           static_cast<long long>(v.patchVersion & 0xFFFFF);
}

OperatingSystemVersion unpack(long long packed) {
    return {static_cast<int>(packed >> 40), static_cast<int>((packed >> 20) & 0xFFFFF),
            static_cast<int>(packed & 0xFFFFF)};
}

}  // namespace

OperatingSystemVersion operatingSystemVersion() {
    long long packed = overrideVersion.load();
    return packed < 0 ? kReportedVersion : unpack(packed);
}

bool isOperatingSystemAtLeastVersion(const OperatingSystemVersion& version) {
    OperatingSystemVersion running = operatingSystemVersion();
    return std::tie(running.majorVersion, running.minorVersion, running.patchVersion) >=
           std::tie(version.majorVersion, version.minorVersion, version.patchVersion);
}

void setOperatingSystemVersionForTesting(std::optional<OperatingSystemVersion> version) {
    overrideVersion.store(version ? pack(*version) : -1);
}

}  // namespace extension::platform::processInfo
