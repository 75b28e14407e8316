#include "web/Reply.hpp"
#include "web/ViewController.hpp"

namespace vesko {

// Placeholders until file output lands.
void ViewController::saveFile(const std::string&, const std::string&, const std::string& callbackId) {
    deliverReply(reply::rejectFixed(callbackId, reply::FixedReject::InvalidBase64));
}
void ViewController::saveFixture(const std::string&, const std::string&, const std::string& callbackId) {
    deliverReply(reply::rejectFixed(callbackId, reply::FixedReject::InvalidJSON));
}

}  // namespace vesko
